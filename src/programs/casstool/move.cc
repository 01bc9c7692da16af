#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/words.h"

using namespace cassmak::core;

namespace {

std::string move_usage()
{
    return "Usage: casstool move IMAGE ENTRY POSITION [-q] [--dry-run] [--no-sync]\n"
           "Moves entry ENTRY so that it becomes entry POSITION; every entry keeps its\n"
           "bytes. The image is replaced whole under the lock that cassmak -append takes.\n"
           "A truncated tail, or a file without its data block, stays last.\n"
           "\n"
           "  -q         print nothing on success\n"
           "  --dry-run  print the move and the resulting list; write nothing\n"
           "  --no-sync  do not wait until the disk holds the new image\n"
           "\n"
           "Exit status: 0 moved, 2 a usage error, a missing entry, a refused move or a\n"
           "failed write.\n";
}

struct move_options : change_switches {
    std::string image;
    std::string entry_word;
    std::string position_word;
    std::size_t entry = 0;
    std::size_t position = 0;
};

int parse_move(const std::vector<std::string>& arguments, move_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(
        move_command, arguments, positional, [&](const std::string& option, argument_cursor&) {
            return take_change_switch(option, options, false) ? tool_ok : unknown_option;
        });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    options.entry_word = positional[1];
    options.position_word = positional[2];
    if (!core::parse_entry(options.entry_word, options.entry))
        return usage_error("move", core::not_a_number("entry", options.entry_word));
    if (!core::parse_entry(options.position_word, options.position))
        return usage_error("move", core::not_a_number("position", options.position_word));
    return tool_ok;
}

int run_move(const move_options& options)
{
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_move(old, options.image, options.entry_word, options.entry,
                         options.position_word, options.position, lines, plan);
    };
    return run_change({"move", options.image, false, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command move_command = {
    "move",
    "move IMAGE ENTRY POSITION",
    "move an entry to another position",
    move_usage,
    parse_and_run<move_options, parse_move, run_move>,
    parse_only<move_options, parse_move>,
    {{"no image given", "no entry given", "no position given"}},
};
