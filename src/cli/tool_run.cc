#include "cli/tool_run.h"

#include "basic/checker.h"
#include "cli/tool_commands.h"
#include "cli/tool_options.h"
#include "cli/tool_report.h"

#include <cstdio>

namespace {

const char* const general_usage =
    "Usage: casstool COMMAND [ARGUMENTS]\n"
    "Reads back the tape images that cassmak writes.\n"
    "\n"
    "Commands:\n"
    "  list [--json] IMAGE...                   list and verify the entries of each image\n"
    "  extract IMAGE ENTRY [-o FILE] [--force]  write the bytes of one stored file or block\n"
    "  basic IMAGE [ENTRY] [-o FILE]            print a stored BASIC program as source text\n"
    "  check [-W no-KIND]... SOURCE...          find the pitfalls in BASIC sources\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text; after a command, the usage of that command\n"
    "  -v, --version  show the version\n"
    "\n"
    "ENTRY is the 1-based position of a stored file or block, as list numbers it.\n"
    "Exit status: 0 everything read is sound, 1 something read is damaged,\n"
    "2 a usage error, an unreadable file, a missing or unfit entry, or a refused output.\n";

const char* const list_usage =
    "Usage: casstool list [--json] IMAGE...\n"
    "Lists the entries of each image: a table with one row per entry (entry, offset,\n"
    "kind, file number, type, address, payload length, name, checksums, problem) and a\n"
    "summary line per image.\n"
    "\n"
    "  --json  one JSON object per entry and line (JSON Lines) instead of the table\n"
    "\n"
    "Exit status: 0 all sound, 1 an entry is damaged, 2 an image cannot be read\n"
    "(the others are still listed).\n";

const char* const extract_usage =
    "Usage: casstool extract IMAGE ENTRY [-o FILE] [--force]\n"
    "Writes the payload of entry ENTRY: a file's bytes without their checksum, or a\n"
    "headless block's bytes.\n"
    "\n"
    "  -o FILE  write to FILE, replacing it; default: standard output, unless that is a\n"
    "           terminal\n"
    "  --force  write a damaged entry too (exit status 1); for a truncated tail, all its\n"
    "           bytes\n"
    "\n"
    "Exit status: 0 written, 1 a damaged entry written with --force, 2 refused or failed.\n";

const char* const basic_usage =
    "Usage: casstool basic IMAGE [ENTRY] [-o FILE]\n"
    "Prints the BASIC program stored in entry ENTRY (default: the first file of type\n"
    "'>') as source text that cassmak -b turns into the same tape file again.\n"
    "\n"
    "  -o FILE  write to FILE, replacing it; default: standard output\n"
    "\n"
    "Exit status: 0 the program comes back identically, 1 the entry is damaged or a line\n"
    "will not come back identically (each named on standard error), 2 refused or failed.\n";

const char* const check_usage =
    "Usage: casstool check [-W no-KIND]... SOURCE...\n"
    "Warns about what cassmak -b will store differently from what a BASIC source\n"
    "plainly means, one line per problem: SOURCE:LINE:COLUMN: warning: MESSAGE [KIND].\n"
    "\n"
    "  -W no-KIND  do not warn about KIND\n"
    "\n"
    "Kinds:";

const char* const check_usage_end =
    "\n"
    "\n"
    "Exit status: 0 no warning, 1 a warning was printed, 2 a source cannot be read.\n";

void print_help(tool_command command)
{
    switch (command) {
    case tool_command::none: std::fputs(general_usage, stdout); return;
    case tool_command::list: std::fputs(list_usage, stdout); return;
    case tool_command::extract: std::fputs(extract_usage, stdout); return;
    case tool_command::basic: std::fputs(basic_usage, stdout); return;
    case tool_command::check: break;
    }
    std::fputs(check_usage, stdout);
    for (const auto kind : check_kinds())
        std::printf(" %.*s", static_cast<int>(kind.size()), kind.data());
    std::fputs(check_usage_end, stdout);
}

int run_command(const tool_settings& settings)
{
    switch (settings.command) {
    case tool_command::list: return run_list(settings.paths, settings.json);
    case tool_command::extract:
        return run_extract(settings.paths[0], *settings.entry, settings.output, settings.force);
    case tool_command::basic: return run_basic(settings.paths[0], settings.entry, settings.output);
    case tool_command::check: return run_check(settings.paths, settings.disabled);
    case tool_command::none: break;
    }
    return report_tool(tool_failed, "no command given (see 'casstool --help')");
}

} // namespace

int run_tool(int argc, const char* const* argv)
{
    tool_settings settings;
    if (parse_tool_arguments(argc, argv, settings) != tool_ok)
        return tool_failed;
    if (!settings.version && !settings.help)
        return run_command(settings);
    if (settings.version)
        std::fputs("casstool " CASSMAK_VERSION "\n", stdout);
    else
        print_help(settings.command);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return report_tool(tool_failed, "standard output: write failed");
    return tool_ok;
}
