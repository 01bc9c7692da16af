#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/words.h"

using namespace cassmak::core;

namespace {

std::string set_usage()
{
    return "Usage: casstool set IMAGE ENTRY [--name NAME] [--number N] [--type C]\n"
           "                    [--address A] [--force] [-q] [--dry-run] [--no-sync]\n"
           "Rewrites the header of the file at ENTRY and computes its checksum again; the\n"
           "fields not given, the data block and every other entry keep their bytes. The\n"
           "image is replaced whole under the lock that cassmak -append takes.\n"
           "\n"
           "  --name NAME     tape name, at most 8 characters, stored upper case and padded\n"
           "  --number N      file number, 0 to 99\n"
           "  --type C        file type, one character from 0x21 to 0x7E ('!' to '~')\n"
           "  --address A     start address, 0 to 65535\n"
           "  --force         rewrite a header whose checksum is bad (exit status 1)\n"
           "  -q              print nothing on success\n"
           "  --dry-run       print the change and the resulting list; write nothing\n"
           "  --no-sync       do not wait until the disk holds the new image\n"
           "\n"
           "Numbers are decimal, 0x hexadecimal or 0 octal, with nothing after them.\n"
           "Exit status: 0 set, 1 set with --force over a bad header checksum, 2 a usage\n"
           "error, a missing entry, a headless block or truncated tail, or a failed write.\n";
}

struct set_options : change_switches {
    std::string image;
    std::string entry_word;
    std::size_t entry = 0;
    header_change change;
};

int take_set_option(const std::string& option, argument_cursor& cursor, set_options& options)
{
    if (take_change_switch(option, options, true))
        return tool_ok;
    return take_header_option("set", option, cursor, options.change);
}

int parse_set(const std::vector<std::string>& arguments, set_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(set_command, arguments, positional,
                                      [&](const std::string& option, argument_cursor& cursor) {
                                          return take_set_option(option, cursor, options);
                                      });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    options.entry_word = positional[1];
    if (!core::parse_entry(options.entry_word, options.entry))
        return usage_error("set", core::not_a_number("entry", options.entry_word));
    const header_change& change = options.change;
    if (!change.name && !change.number && !change.type && !change.address)
        return usage_error("set", "nothing to set; give --name, --number, --type or --address");
    return tool_ok;
}

int run_set(const set_options& options)
{
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_set(old, options.image, options.entry_word, options.entry, options.change,
                        options.force, lines, plan);
    };
    return run_change({"set", options.image, false, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command set_command = {
    "set",
    "set IMAGE ENTRY --FIELD VALUE...",
    "rewrite the header of a stored file",
    set_usage,
    parse_and_run<set_options, parse_set, run_set>,
    parse_only<set_options, parse_set>,
    {{"no image given", "no entry given"}},
};
