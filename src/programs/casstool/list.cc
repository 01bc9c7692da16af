#include "programs/casstool/args.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "tape/json_lines.h"
#include "programs/casstool/report.h"
#include "tape/table.h"
#include "tape/reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace cassmak::core;

namespace {

std::string list_usage()
{
    return "Usage: casstool list [--json] IMAGE...\n"
           "Lists the entries of each image: a table with one row per entry (entry,\n"
           "offset, kind, file number, type, address, payload length, name, checksums,\n"
           "problem) and a summary line per image. An IMAGE of - is standard input.\n"
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
    return walk_arguments(list_command, arguments, options.images,
                          [&](const std::string& option, argument_cursor&) {
                              if (option != "--json")
                                  return unknown_option;
                              options.json = true;
                              return tool_ok;
                          });
}

// Rows gather in one buffer and go out in big writes, as they are found.
struct row_output {
    std::vector<char> buffer = std::vector<char>(std::size_t{1} << 20);
    std::size_t used = 0;

    void flush()
    {
        std::fwrite(buffer.data(), 1, used, stdout);
        used = 0;
    }
    // Room for `count` more bytes; the buffer grows for a longer piece.
    char* room(std::size_t count)
    {
        if (buffer.size() - used < count)
            flush();
        if (buffer.size() < count)
            buffer.resize(count);
        return buffer.data() + used;
    }
    void add(const std::string& text)
    {
        std::memcpy(room(text.size()), text.data(), text.size());
        used += text.size();
    }
};

int run_list(const list_options& options)
{
    int status = tool_ok;
    std::string text;
    row_output out;
    bool first = true;
    for (const std::string& path : options.images) {
        table_summary summary;
        table_rows rows;
        const std::string json_start = options.json ? json_line_start(path) : std::string();
        image_visitor visitor;
        visitor.begin = [&](bool size_known, std::uint64_t size) {
            if (options.json)
                return;
            text.clear();
            if (!first)
                text += '\n';
            first = false;
            append_table_head(text, path, size_known, size);
            out.add(text);
        };
        visitor.visit = [&](const tape_entry& entry, const std::uint8_t*, std::uint64_t base) {
            if (options.json) {
                text.clear();
                append_json_line(text, json_start, entry, base);
                out.add(text);
            } else {
                if (summary.entries == 0)
                    out.add(table_heading);
                char* at = out.room(row_room + entry.problem.size());
                out.used += static_cast<std::size_t>(rows.put(at, entry, base) - at);
            }
            count_entry(summary, entry);
            return true;
        };
        std::uint64_t size = 0;
        const bool read = walk_image(path, visitor, size) == tool_ok;
        if (read && !options.json) {
            text.clear();
            append_summary(text, summary);
            out.add(text);
        }
        // A failure message follows the rows before it.
        out.flush();
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

// A row of the table in commands.cc (declared in commands.h).
const tool_command list_command = {
    "list",
    "list [--json] IMAGE...",
    "list and verify the entries of images",
    list_usage,
    parse_and_run<list_options, parse_list, run_list>,
    parse_only<list_options, parse_list>,
    {{"no image given"}, 0, true},
};
