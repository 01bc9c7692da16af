#include "basic/checker.h"
#include "programs/casstool/args.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace cassmak::core;

namespace {

// Far past what cassmak -b takes, and a stop for endless devices.
constexpr std::size_t source_limit = std::size_t{16} << 20;

std::string check_usage()
{
    std::string text =
        "Usage: casstool check [-W no-KIND]... SOURCE...\n"
        "Warns about what cassmak -b will store differently from what a BASIC source\n"
        "plainly means, one line per problem:\n"
        "  SOURCE:LINE:COLUMN: warning: MESSAGE [KIND]\n"
        "COLUMN counts characters as GCC does. A SOURCE of - is standard input.\n"
        "\n"
        "  -W no-KIND  do not warn about KIND\n"
        "\n"
        "Kinds:";
    std::size_t width = 6;
    for (const auto kind : check_kinds()) {
        if (width + 1 + kind.size() > 79) {
            text += "\n      ";
            width = 6;
        }
        text.append(" ").append(kind);
        width += 1 + kind.size();
    }
    return text + "\n"
                  "\n"
                  "Exit status: 0 no warning, 1 a warning was printed, 2 a source cannot be\n"
                  "read.\n";
}

struct check_options {
    std::vector<std::string> sources;
    std::vector<std::string> disabled; // the kinds of -W no-KIND
};

int take_disabled_kind(const std::string& value, check_options& options)
{
    if (value.compare(0, 3, "no-") != 0)
        return usage_error("check", "option -W takes no-KIND, not '" + value + "'");
    const std::string kind = value.substr(3);
    const auto& known = check_kinds();
    if (std::find(known.begin(), known.end(), kind) == known.end())
        return usage_error("check", "unknown warning kind '" + kind + "'");
    options.disabled.push_back(kind);
    return tool_ok;
}

int parse_check(const std::vector<std::string>& arguments, check_options& options)
{
    const int status =
        walk_arguments(check_command, arguments, options.sources,
                       [&](const std::string& option, argument_cursor& cursor) {
                           if (option.compare(0, 2, "-W") != 0)
                               return unknown_option;
                           std::string value = option.substr(2);
                           if (option == "-W" && !cursor.take_value(value))
                               return usage_error("check", "option -W needs no-KIND");
                           return take_disabled_kind(value, options);
                       });
    return status;
}

int run_check(const check_options& options)
{
    const std::vector<std::string>& disabled = options.disabled;
    int status = tool_ok;
    std::vector<std::uint8_t> buffer;
    for (const std::string& source : options.sources) {
        std::size_t size = 0;
        if (load_file(source, source_limit, "larger than 16 MiB, not a BASIC source", buffer,
                      size) != tool_ok) {
            status = tool_failed;
            continue;
        }
        const std::string_view content(reinterpret_cast<const char*>(buffer.data()), size);
        std::size_t shown = 0;
        std::string line;
        check_basic_source(content, [&](const check_warning& warning) {
            const std::string_view kind = check_kind_name(warning.kind);
            if (std::find(disabled.begin(), disabled.end(), kind) != disabled.end())
                return;
            line.clear();
            append_check_line(line, source, warning.line, warning.display_column, warning.message,
                              kind);
            std::fwrite(line.data(), 1, line.size(), stdout);
            ++shown;
        });
        // The summary follows its source's warnings also in a combined log.
        if (finish_stdout(tool_ok) != tool_ok)
            return tool_failed;
        if (shown == 0)
            std::fprintf(stderr, "%s: no problems\n", source.c_str());
        else
            std::fprintf(stderr, "%s: %zu warning%s\n", source.c_str(), shown,
                         shown == 1 ? "" : "s");
        if (shown > 0 && status == tool_ok)
            status = tool_damaged;
    }
    return status;
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command check_command = {
    "check",
    "check [-W no-KIND]... SOURCE...",
    "find the pitfalls in BASIC sources",
    check_usage,
    parse_and_run<check_options, parse_check, run_check>,
    parse_only<check_options, parse_check>,
    {{"no source given"}, 0, true},
};
