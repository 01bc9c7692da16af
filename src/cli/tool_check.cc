#include "basic/checker.h"
#include "cli/tool_commands.h"
#include "cli/tool_report.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// Far past what cassmak -b takes, and a stop for endless devices.
constexpr std::size_t source_limit = std::size_t{16} << 20;

} // namespace

int run_check(const std::vector<std::string>& sources, const std::vector<std::string>& disabled)
{
    int status = tool_ok;
    std::vector<std::uint8_t> buffer;
    for (const std::string& source : sources) {
        std::size_t size = 0;
        if (load_file(source, source_limit, "larger than 16 MiB, not a BASIC source", buffer,
                      size) != tool_ok) {
            status = tool_failed;
            continue;
        }
        const std::string_view content(reinterpret_cast<const char*>(buffer.data()), size);
        std::size_t shown = 0;
        for (const check_warning& warning : check_basic_source(content)) {
            if (std::find(disabled.begin(), disabled.end(), warning.kind) != disabled.end())
                continue;
            std::string line = source + ":" + std::to_string(warning.line) + ":" +
                               std::to_string(warning.column) + ": warning: " + warning.message +
                               " [" + std::string(warning.kind) + "]\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            ++shown;
        }
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
