#include "casstool/args.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"
#include "casstool/table.h"
#include "tape/reader.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string list_usage()
{
    return "Usage: casstool list [--json] IMAGE...\n"
           "Lists the entries of each image: a table with one row per entry (entry, offset,\n"
           "kind, file number, type, address, payload length, name, checksums, problem) and a\n"
           "summary line per image.\n"
           "\n"
           "  --json  one JSON object per entry and line (JSON Lines) instead of the table\n"
           "\n"
           "Exit status: 0 all sound, 1 an entry is damaged, 2 an image cannot be read\n"
           "(the others are still listed).\n";
}

struct list_options {
    bool json = false;
    std::vector<std::string> images;
};

int parse_list(const std::vector<std::string>& arguments, list_options& options)
{
    const int status = walk_arguments("list", arguments, options.images,
                                      [&](const std::string& option, argument_cursor&) {
                                          if (option != "--json")
                                              return unknown_option;
                                          options.json = true;
                                          return tool_ok;
                                      });
    if (status == tool_ok && options.images.empty())
        return usage_error("list", "no image given");
    return status;
}

int run_list(const list_options& options)
{
    int status = tool_ok;
    std::string out;
    bool first = true;
    // Rows go out in pieces of about this size, as they are found.
    constexpr std::size_t flush_size = 1 << 16;
    for (const std::string& path : options.images) {
        table_summary summary;
        out.clear();
        image_visitor visitor;
        visitor.begin = [&](bool size_known, std::uint64_t size) {
            if (options.json)
                return;
            if (!first)
                out += '\n';
            first = false;
            append_table_head(out, path, size_known, size);
        };
        visitor.visit = [&](const tape_entry& entry, const std::uint8_t*, std::uint64_t base) {
            if (options.json) {
                append_json(out, path, entry, base);
            } else {
                if (summary.entries == 0)
                    out += table_heading;
                append_row(out, entry, base);
            }
            count_entry(summary, entry);
            if (out.size() >= flush_size) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
            return true;
        };
        std::uint64_t size = 0;
        const bool read = walk_image(path, visitor, size) == tool_ok;
        if (read && !options.json)
            append_summary(out, summary);
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (!read) {
            status = tool_failed;
            continue;
        }
        if (status == tool_ok && summary.damaged_count > 0)
            status = tool_damaged;
    }
    return finish_stdout(status);
}

} // namespace

extern const tool_command list_command; // a row of the table in commands.cc
const tool_command list_command = {
    "list",
    "list [--json] IMAGE...",
    "list and verify the entries of images",
    list_usage,
    parse_and_run<list_options, parse_list, run_list>,
    parse_only<list_options, parse_list>,
};
