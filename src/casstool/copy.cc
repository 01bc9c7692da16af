#include "casstool/args.h"
#include "casstool/change.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

std::string copy_usage()
{
    return "Usage: casstool copy SOURCE ENTRY... --to IMAGE [--at POSITION] [--force]\n"
           "                     [-q] [--dry-run] [--no-sync]\n"
           "Copies the entries of SOURCE byte for byte into IMAGE, at its end or before its\n"
           "entry POSITION; every entry of IMAGE keeps its bytes. IMAGE is made when it is\n"
           "missing and replaced whole under the lock that cassmak -append takes. ENTRY is\n"
           "a number, a range A-B or 'all'; SOURCE '-' is standard input.\n"
           "\n"
           "  --to IMAGE     the image to copy into\n"
           "  --at POSITION  insert before entry POSITION of IMAGE; default: at its end\n"
           "  --force        copy a truncated tail too (exit status 1)\n"
           "  -q             print nothing on success\n"
           "  --dry-run      print the copies and the resulting list; write nothing\n"
           "  --no-sync      do not wait until the disk holds the new image\n"
           "\n"
           "Exit status: 0 copied, 1 a truncated tail copied with --force, 2 a usage\n"
           "error, a missing entry, a refused copy or a failed read or write.\n";
}

struct copy_options : change_switches {
    std::string source;
    std::vector<std::string> entries;
    std::string image;
    std::optional<std::string> at_word;
    std::size_t at = 0;
};

int parse_copy(const std::vector<std::string>& arguments, copy_options& options)
{
    std::vector<std::string> positional;
    std::optional<std::string> to;
    const int status = walk_arguments(
        copy_command, arguments, positional,
        [&](const std::string& option, argument_cursor& cursor) {
            if (take_change_switch(option, options, true))
                return tool_ok;
            std::optional<std::string>* value = option == "--to"   ? &to
                                                : option == "--at" ? &options.at_word
                                                                   : nullptr;
            if (!value)
                return unknown_option;
            std::string text;
            if (!cursor.take_value(text))
                return usage_error(
                    "copy", "option " + option +
                                (option == "--to" ? " needs an image" : " needs a position"));
            if (*value)
                return usage_error("copy", "option " + option + " given twice");
            *value = text;
            return tool_ok;
        });
    if (status != tool_ok)
        return status;
    if (!to)
        return usage_error("copy", "no image to copy into; give --to IMAGE");
    options.source = positional[0];
    options.entries.assign(positional.begin() + 1, positional.end());
    options.image = *to;
    if (options.at_word && !parse_entry(*options.at_word, options.at))
        return usage_error("copy", "position '" + *options.at_word + "' is not a number");
    return tool_ok;
}

// Whether both paths name one file, so that the copy is taken from the image
// as it is under the lock.
bool same_file(const std::string& a, const std::string& b)
{
    if (a == "-")
        return false;
    return a == b || names_same_file(a, b);
}

// An open entry of the new image that another entry would follow: where it
// comes from, at the lowest position in the new image found so far.
struct open_inside {
    std::size_t position = SIZE_MAX;
    entry_kind kind = entry_kind::truncated;
    const std::string* origin = nullptr;
    std::size_t entry = 0;

    void consider(std::size_t at, std::size_t total, const entry_bounds& bounds,
                  const std::string& path, std::size_t index)
    {
        if (bounds.open && at + 1 < total && at < position)
            *this = {at, bounds.kind, &path, index + 1};
    }
};

int run_copy(const copy_options& options)
{
    const std::string& path = options.image;
    const bool within = same_file(options.source, path);
    loaded_image source;
    if (!within && load_image(options.source, source.bytes, source.size) != tool_ok)
        return tool_failed;
    const image_bytes_reader read_source = [&](std::uint64_t at, std::uint8_t* into,
                                               std::size_t count) {
        if (at > source.size || count > source.size - at)
            return false;
        std::copy(source.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  source.bytes.begin() + static_cast<std::ptrdiff_t>(at + count), into);
        return true;
    };
    const change_work work = [&](const old_file& old, bool, std::vector<plan_piece>& plan,
                                 change_report& report) {
        // Within one image the copies are taken from it as it is under the lock.
        const image_bytes_reader& read_from = within ? old.read : read_source;
        const std::uint64_t from_size = within ? old.size : source.size;
        std::size_t count = 0;
        if (!count_entries(old.size, old.read, count))
            return tool_failed;
        std::size_t at = count;
        if (options.at_word) {
            if (options.at < 1 || options.at > count + 1)
                return report_tool(tool_failed, path + ": no entry " + *options.at_word +
                                                    " to copy before" + entries_are(count));
            at = options.at - 1;
        }
        std::size_t from_count = 0;
        if (!count_entries(from_size, read_from, from_count))
            return tool_failed;
        std::vector<entry_run> chosen;
        const entry_list_result result = choose_entry_runs(options.entries, from_count, chosen);
        if (result.outcome != entry_list_outcome::chosen)
            return report_entry_list(options.source, result);
        std::size_t copies = 0;
        for (const entry_run& run : chosen)
            copies += run.last - run.first + 1;
        const std::size_t total = count + copies;

        int status = tool_ok;
        open_inside inside;
        std::vector<plan_piece> copied; // a piece per run
        std::vector<std::uint8_t> window;
        tape_entry entry;
        std::size_t position = at; // of the next copy in the new image
        for (const entry_run& run : chosen) {
            std::uint64_t first = 0;
            std::uint64_t end = 0;
            int refused = tool_ok;
            bool read = true;
            if (!walk_entry_bounds(
                    from_size, read_from,
                    [&](std::size_t index, const entry_bounds& bounds) {
                        if (index < run.first)
                            return true;
                        if (index == run.first)
                            first = bounds.offset;
                        end = bounds.offset + bounds.span;
                        read = read_entry(read_from, bounds, index, window, entry);
                        if (!read)
                            return false;
                        if (entry.kind == entry_kind::truncated) {
                            if (!options.force) {
                                refused =
                                    report_tool(tool_failed, damage_label(options.source, entry) +
                                                                 "; --force copies it anyway");
                                return false;
                            }
                            report.notes.push_back(damage_label(options.source, entry) +
                                                   "; copied as it is");
                            status = tool_damaged;
                        }
                        inside.consider(position, total, bounds, options.source, index);
                        report.lines += "copied entry " + std::to_string(index + 1) + " (" +
                                        describe_entry(entry) + ") as entry " +
                                        std::to_string(position + 1) + "\n";
                        ++position;
                        return index < run.last;
                    }) ||
                !read || refused != tool_ok)
                return tool_failed;
            if (within)
                add_old_span(copied, first, end - first);
            else
                copied.push_back({source.bytes.data() + first, 0, end - first});
        }
        std::uint64_t split = old.size; // where the copies go in the old image
        if (!walk_entry_bounds(old.size, old.read,
                               [&](std::size_t index, const entry_bounds& bounds) {
                                   if (index == at)
                                       split = bounds.offset;
                                   inside.consider(index < at ? index : index + copies, total,
                                                   bounds, path, index);
                                   return true;
                               }))
            return tool_failed;
        if (inside.origin)
            return report_open_inside(path, inside.kind, *inside.origin, inside.entry);
        add_old_span(plan, 0, split);
        for (const plan_piece& piece : copied)
            if (piece.bytes)
                plan.push_back(piece);
            else
                add_old_span(plan, piece.from, piece.count);
        add_old_span(plan, split, old.size - split);
        return status;
    };
    return run_change({"copy", path, true, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command copy_command = {
    "copy",
    "copy SOURCE ENTRY... --to IMAGE",
    "copy entries into another image",
    copy_usage,
    parse_and_run<copy_options, parse_copy, run_copy>,
    parse_only<copy_options, parse_copy>,
    {{"no source image given", "no entry given"}, 0, true},
};
