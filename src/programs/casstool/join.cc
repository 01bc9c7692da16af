#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/table.h"

#include <cstdio>
#include <optional>

using namespace cassmak::core;

namespace {

std::string join_usage()
{
    return "Usage: casstool join -o OUTPUT IMAGE... [--force] [-q] [--dry-run] [--no-sync]\n"
           "Writes one image of all the entries of the images, in order, byte for byte.\n"
           "OUTPUT is replaced whole as cassmak replaces its output; '-o -' writes to\n"
           "standard output (and prints no lines). An IMAGE of '-' is standard input.\n"
           "An output named with -o is replaced; names made in a folder need --force.\n"
           "\n"
           "  -o OUTPUT  the image to write\n"
           "  --force    take a truncated tail too (exit status 1)\n"
           "  -q         print nothing on success\n"
           "  --dry-run  print what would be joined and the resulting list; write nothing\n"
           "  --no-sync  do not wait until the disk holds the new image\n"
           "\n"
           "Exit status: 0 joined, 1 a truncated tail taken with --force, 2 a usage error,\n"
           "a refused join or a failed read or write.\n";
}

struct join_options : change_switches {
    std::string output;
    std::vector<std::string> images;
};

int parse_join(const std::vector<std::string>& arguments, join_options& options)
{
    std::optional<std::string> output;
    const int status = walk_options(
        "join", arguments, options.images, [&](const std::string& option, argument_cursor& cursor) {
            if (take_change_switch(option, options, true))
                return tool_ok;
            if (option != "-o")
                return unknown_option;
            std::string value;
            if (!cursor.take_value(value))
                return usage_error("join", "option -o needs a file name");
            if (output)
                return usage_error("join", "option -o given twice");
            output = value;
            return tool_ok;
        });
    if (status != tool_ok)
        return status;
    if (!output)
        return usage_error("join", "no output given; give -o OUTPUT");
    if (const int lack = check_positional(join_command, options.images); lack != tool_ok)
        return lack;
    options.output = *output;
    return tool_ok;
}

int run_join(const join_options& options)
{
    // Every image is read whole before anything is written, so OUTPUT may be
    // one of them.
    std::vector<tape_image> images(options.images.size());
    for (std::size_t i = 0; i < images.size(); ++i)
        if (load_entries(options.images[i], images[i]) != tool_ok)
            return tool_failed;
    change_outcome outcome = join_change(images, options.images, options.output, options.force);
    if (outcome.status == change_refused)
        return report_tool(tool_failed, outcome.message);
    const int status = outcome.status;
    change_report report;
    report.lines += outcome.lines;
    report.notes = std::move(outcome.notes);
    const std::vector<std::uint8_t> joined = std::move(outcome.image);
    if (options.dry_run) {
        report.lines += image_table(options.output, joined.data(), joined.size());
        return finish_report(report, false, status);
    }
    if (write_new_image(options.output, joined, sync_of(options)) != tool_ok)
        return tool_failed;
    // On standard output the lines would run into the image.
    return finish_report(report, options.quiet || options.output == "-", status);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command join_command = {
    "join",
    "join -o OUTPUT IMAGE...",
    "join the entries of images into one",
    join_usage,
    parse_and_run<join_options, parse_join, run_join>,
    parse_only<join_options, parse_join>,
    {{"no image given"}, 0, true},
};
