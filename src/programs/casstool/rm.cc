#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"

using namespace cassmak::core;

namespace {

std::string rm_usage()
{
    return "Usage: casstool rm IMAGE ENTRY... [-q] [--dry-run] [--no-sync]\n"
           "Removes the entries from the image; every other entry keeps its bytes. ENTRY is\n"
           "a number, a range A-B or 'all'. The image is replaced whole under the lock that\n"
           "cassmak -append takes, so an append running meanwhile is kept, and synced to\n"
           "the disk before the command ends.\n"
           "\n"
           "  -q         print nothing on success\n"
           "  --dry-run  print what would be removed and the resulting list; write nothing\n"
           "  --no-sync  do not wait until the disk holds the new image\n"
           "\n"
           "Exit status: 0 removed, 2 a usage error, a missing entry or a failed write.\n";
}

struct rm_options : change_switches {
    std::string image;
    std::vector<std::string> entries;
};

int parse_rm(const std::vector<std::string>& arguments, rm_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(
        rm_command, arguments, positional, [&](const std::string& option, argument_cursor&) {
            return take_change_switch(option, options, false) ? tool_ok : unknown_option;
        });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    options.entries.assign(positional.begin() + 1, positional.end());
    return tool_ok;
}

int run_rm(const rm_options& options)
{
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_remove(old, options.image, options.entries, lines, plan);
    };
    return run_change({"rm", options.image, false, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command rm_command = {
    "rm",
    "rm IMAGE ENTRY... [-q] [--dry-run]",
    "remove entries from an image",
    rm_usage,
    parse_and_run<rm_options, parse_rm, run_rm>,
    parse_only<rm_options, parse_rm>,
    {{"no image given", "no entry given"}, 0, true},
};
