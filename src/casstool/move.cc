#include "casstool/args.h"
#include "casstool/change.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"

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
    if (!parse_entry(options.entry_word, options.entry))
        return usage_error("move", "entry '" + options.entry_word + "' is not a number");
    if (!parse_entry(options.position_word, options.position))
        return usage_error("move", "position '" + options.position_word + "' is not a number");
    return tool_ok;
}

// Where entry `index` goes when entry `from` is moved to `to`.
std::size_t moved_position(std::size_t index, std::size_t from, std::size_t to)
{
    if (index == from)
        return to;
    if (from < to && index > from && index <= to)
        return index - 1;
    if (to < from && index >= to && index < from)
        return index + 1;
    return index;
}

int run_move(const move_options& options)
{
    const std::string& path = options.image;
    const change_work work = [&](const old_file& old, bool, std::vector<plan_piece>& plan,
                                 change_report& report) {
        std::size_t count = 0;
        if (!count_entries(old.size, old.read, count))
            return tool_failed;
        if (options.entry < 1 || options.entry > count)
            return report_missing_entry(path, options.entry_word, count);
        if (options.position < 1 || options.position > count)
            return report_tool(tool_failed, path + ": no entry " + options.position_word +
                                                " to move to" + entries_are(count));
        const std::size_t from = options.entry - 1;
        const std::size_t to = options.position - 1;
        // Only the last two entries can be open (a file without its data
        // block, then the truncated tail of that block): the first of them
        // that the move puts before another entry is refused.
        entry_bounds moved;
        entry_bounds target;
        std::size_t inside = count;
        entry_kind inside_kind = entry_kind::truncated;
        std::size_t inside_at = count;
        if (!walk_entry_bounds(old.size, old.read,
                               [&](std::size_t index, const entry_bounds& bounds) {
                                   if (index == from)
                                       moved = bounds;
                                   if (index == to)
                                       target = bounds;
                                   const std::size_t at = moved_position(index, from, to);
                                   if (bounds.open && at + 1 < count && at < inside_at) {
                                       inside = index;
                                       inside_at = at;
                                       inside_kind = bounds.kind;
                                   }
                                   return true;
                               }))
            return tool_failed;
        if (inside < count)
            return report_open_inside(path, inside_kind, path, inside + 1);
        std::vector<std::uint8_t> window;
        tape_entry entry;
        if (!read_entry(old.read, moved, from, window, entry))
            return tool_failed;
        report.lines += "moved entry " + std::to_string(options.entry) + " (" +
                        describe_entry(entry) + ") to entry " + std::to_string(options.position) +
                        "\n";
        const std::uint64_t moved_end = moved.offset + moved.span;
        const std::uint64_t target_end = target.offset + target.span;
        if (from < to) {
            add_old_span(plan, 0, moved.offset);
            add_old_span(plan, moved_end, target_end - moved_end);
            add_old_span(plan, moved.offset, moved.span);
            add_old_span(plan, target_end, old.size - target_end);
        } else {
            add_old_span(plan, 0, target.offset);
            add_old_span(plan, moved.offset, moved.span);
            add_old_span(plan, target.offset, moved.offset - target.offset);
            add_old_span(plan, moved_end, old.size - moved_end);
        }
        return tool_ok;
    };
    return run_change({"move", path, false, options}, work);
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
