#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/table.h"

#include <cstdio>
#include <new>
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
    join_state join;
    join.force = options.force;
    // Every image is read before anything is written, so OUTPUT may be one
    // of them. The new image is their bytes one after another, each entry
    // put into it as the walk reads it, so that no record per entry is kept;
    // a dry run keeps not even the bytes and lists the entries as they come.
    std::vector<std::uint8_t> joined;
    change_report report;
    std::string rows;
    table_summary summary;
    for (const std::string& path : options.images) {
        image_visitor visitor;
        visitor.begin = [&](bool size_known, std::uint64_t size) {
            if (size_known && !options.dry_run)
                joined.reserve(joined.size() + static_cast<std::size_t>(size));
        };
        visitor.visit = [&](const tape_entry& entry, const std::uint8_t* window,
                            std::uint64_t base) {
            if (!join_entry(join, path, entry))
                return false;
            if (!options.dry_run) {
                const std::uint8_t* begin = window + entry.offset;
                joined.insert(joined.end(), begin, begin + entry.span);
                return true;
            }
            tape_entry shown = entry;
            shown.entry += join.entries;
            if (shown.entry == 1)
                rows += table_heading;
            append_row(rows, shown, join.size + base);
            count_entry(summary, shown);
            if (rows.size() >= std::size_t{1} << 16) {
                report.table += rows;
                rows.clear();
            }
            return true;
        };
        std::uint64_t size = 0;
        try {
            if (walk_image(path, visitor, size) != tool_ok)
                return tool_failed;
        } catch (const std::bad_alloc&) {
            return report_tool(tool_failed, path + ": out of memory");
        }
        if (join.status == change_refused)
            return report_tool(tool_failed, join.message);
        join_image_done(join, path, size);
    }
    if (!join_done(join, options.output))
        return report_tool(tool_failed, join.message);
    const int status = join.status;
    report.lines += join.lines;
    report.notes = std::move(join.notes);
    if (options.dry_run) {
        std::string head;
        append_table_head(head, options.output, true, join.size);
        report.lines += head;
        append_summary(rows, summary);
        report.table += rows;
        return finish_report(report, false, status);
    }
    bool streamed = false;
    if (write_new_image(options.output, joined, sync_of(options), streamed) != tool_ok)
        return tool_failed;
    // On standard output, or a pipe or terminal named as the output (such as
    // /dev/stdout), the lines would run into the image.
    return finish_report(report, options.quiet || options.output == "-" || streamed, status);
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
