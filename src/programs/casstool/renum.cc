#include "basic/renumber.h"
#include "basic/renumber_program.h"
#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/fields.h"

#include <cstdio>
#include <string>

using namespace cassmak::core;

namespace {

// Far past what cassmak -b takes, and a stop for endless devices.
constexpr std::size_t source_limit = std::size_t{16} << 20;

std::string renum_usage()
{
    return "Usage: casstool renum SOURCE [--start N] [--step N] [-o FILE] [--dry-run]\n"
           "       casstool renum IMAGE ENTRY [--start N] [--step N] [-q] [--dry-run]\n"
           "                      [--no-sync]\n"
           "Numbers the lines of a BASIC source from N by the step and rewrites every line\n"
           "reference (GOTO, GOSUB, RUN, RESTORE, LIST, LLIST, THEN, ON ... GOTO lists) to\n"
           "the new number of the line it named; every other byte stays. Unnumbered lines\n"
           "get a number; labels (@name: at the start of a line, @name where a number\n"
           "stands, \\@ for a literal @) become numbers. With ENTRY, the program stored in\n"
           "that entry of IMAGE is renumbered in place, under the lock that cassmak\n"
           "-append takes.\n"
           "\n"
           "  --start N  the first number, 0 to 65535 (default 10)\n"
           "  --step N   the step, 1 to 65535 (default 10)\n"
           "  -o FILE    write to FILE, replacing it; default (and -o -): standard output\n"
           "  -q         print nothing on success (ENTRY)\n"
           "  --dry-run  print the old and new number of each line; write nothing\n"
           "  --no-sync  do not wait until the disk holds the new image (ENTRY)\n"
           "\n"
           "A reference to a line that does not exist stays as written and is reported:\n"
           "  SOURCE:LINE:COLUMN: warning: MESSAGE [missing-target]\n"
           "Exit status: 0 renumbered, 1 renumbered with a reference to a missing line,\n"
           "2 a usage error, an undefined or twice-defined label, numbers past 65535, or\n"
           "a failed read or write.\n";
}

struct renum_options : change_switches {
    std::string input;
    std::string entry_word; // empty: the input is a source
    std::size_t entry = 0;
    renumber_settings settings;
    output_choice output;
};

int take_number(const std::string& option, argument_cursor& cursor, std::uint32_t least,
                std::uint32_t& value)
{
    std::string text;
    unsigned long number = 0;
    const std::string range = std::to_string(least) + " to " + std::to_string(line_number_max);
    if (!cursor.take_value(text))
        return usage_error("renum", "option " + option + " needs a number, " + range);
    if (!parse_field_number(text, number) || number < least || number > line_number_max)
        return usage_error("renum",
                           "option " + option + " takes " + range + ", not '" + text + "'");
    value = static_cast<std::uint32_t>(number);
    return tool_ok;
}

int parse_renum(const std::vector<std::string>& arguments, renum_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(
        renum_command, arguments, positional,
        [&](const std::string& option, argument_cursor& cursor) {
            if (option == "--start")
                return take_number(option, cursor, 0, options.settings.start);
            if (option == "--step")
                return take_number(option, cursor, 1, options.settings.step);
            if (option == "-o")
                return take_output_option("renum", cursor, options.output);
            return take_change_switch(option, options, false) ? tool_ok : unknown_option;
        });
    if (status != tool_ok)
        return status;
    options.input = positional[0];
    if (positional.size() == 1) {
        if (options.quiet || options.no_sync)
            return usage_error("renum", std::string(options.quiet ? "-q" : "--no-sync") +
                                            " is for a program on a tape (IMAGE ENTRY)");
        return tool_ok;
    }
    if (options.output.given)
        return usage_error("renum", "-o is for a source; a tape's program is renumbered in place");
    options.entry_word = positional[1];
    if (!parse_entry(options.entry_word, options.entry))
        return usage_error("renum", "entry '" + options.entry_word + "' is not a number");
    return tool_ok;
}

// "prog.bas:4: 100 -> 30 (@loop)", a line each.
std::string mapping_lines(const std::string& source, const source_renumber& renumbered)
{
    std::string text;
    for (const renumbered_line& line : renumbered.lines) {
        text += source + ":" + std::to_string(line.line) + ": " +
                (line.old_digits.empty() ? "unnumbered" : line.old_digits) + " -> " +
                std::to_string(line.number);
        for (std::size_t i = 0; i < line.labels.size(); ++i)
            text +=
                (i == 0 ? " (" : " ") + line.labels[i] + (i + 1 == line.labels.size() ? ")" : "");
        text += "\n";
    }
    return text;
}

int renumber_source_file(const renum_options& options)
{
    std::vector<std::uint8_t> buffer;
    std::size_t size = 0;
    if (load_file(options.input, source_limit, "larger than 16 MiB, not a BASIC source", buffer,
                  size) != tool_ok)
        return tool_failed;
    const std::string_view content(reinterpret_cast<const char*>(buffer.data()), size);
    const source_renumber renumbered = renumber_source(content, options.settings);
    if (finish_stdout(tool_ok) != tool_ok)
        return tool_failed;
    print_source_problems(options.input, renumbered.errors, "error");
    if (!renumbered.message.empty())
        return report_tool(tool_failed,
                           options.input + ": " + renumbered.message + "; nothing written");
    print_source_problems(options.input, renumbered.warnings, "warning");
    int status = tool_ok;
    if (options.dry_run) {
        const std::string text = mapping_lines(options.input, renumbered);
        std::fwrite(text.data(), 1, text.size(), stdout);
        status = finish_stdout(tool_ok);
    } else {
        status = write_bytes(options.output.path,
                             reinterpret_cast<const std::uint8_t*>(renumbered.text.data()),
                             renumbered.text.size());
    }
    if (status != tool_ok)
        return status;
    return renumbered.warnings.empty() ? tool_ok : tool_damaged;
}

int run_renum(const renum_options& options)
{
    if (options.entry_word.empty())
        return renumber_source_file(options);
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_renumber(old, options.input, options.entry_word, options.entry,
                             options.settings, lines, plan);
    };
    return run_change({"renum", options.input, false, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command renum_command = {
    "renum",
    "renum SOURCE|IMAGE [ENTRY] [--start N] [--step N]",
    "renumber a BASIC program and its references",
    renum_usage,
    parse_and_run<renum_options, parse_renum, run_renum>,
    parse_only<renum_options, parse_renum>,
    {{"no source or image given"}, 1},
};
