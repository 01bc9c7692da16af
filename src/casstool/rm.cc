#include "casstool/args.h"
#include "casstool/change.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"

#include <algorithm>

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

// The runs sorted and joined where they meet or overlap.
std::vector<entry_run> joined_runs(std::vector<entry_run> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const entry_run& a, const entry_run& b) { return a.first < b.first; });
    std::vector<entry_run> out;
    for (const entry_run& run : runs)
        if (!out.empty() && run.first <= out.back().last + 1)
            out.back().last = std::max(out.back().last, run.last);
        else
            out.push_back(run);
    return out;
}

// The highest entry number the words name, or 0 when one of them is `all`,
// whose reach is the whole image, or is not a number or range.
std::size_t highest_named(const std::vector<std::string>& words)
{
    constexpr std::size_t beyond = std::size_t{1} << 40; // more entries than any image holds
    std::size_t highest = 0;
    for (const std::string& word : words) {
        std::size_t number = 0;
        for (const char c : word) {
            if (c == '-') {
                highest = std::max(highest, number);
                number = 0;
            } else if (c >= '0' && c <= '9') {
                number = std::min(number * 10 + static_cast<std::size_t>(c - '0'), beyond);
            } else {
                return 0;
            }
        }
        highest = std::max(highest, number);
    }
    return highest;
}

int run_rm(const rm_options& options)
{
    const std::string& path = options.image;
    const change_work work = [&](const old_file& old, bool, std::vector<plan_piece>& plan,
                                 change_report& report) {
        // Where the words name their entries by number, the walk that plans
        // the removal also proves those entries are there, and ends at the
        // last of them: everything after it is kept as one span. Only `all`
        // or a word in error needs the count first. Half the reads of a
        // large image is what keeps this within the cost of a copy.
        std::vector<entry_run> chosen;
        const std::size_t highest = highest_named(options.entries);
        std::size_t must_see = highest;
        if (highest == 0 || choose_entry_runs(options.entries, highest, chosen).outcome !=
                                entry_list_outcome::chosen) {
            chosen.clear();
            must_see = 0;
            std::size_t count = 0;
            if (!count_entries(old.size, old.read, count))
                return tool_failed;
            const entry_list_result result = choose_entry_runs(options.entries, count, chosen);
            if (result.outcome != entry_list_outcome::chosen)
                return report_entry_list(path, result);
        }
        const std::vector<entry_run> removed = joined_runs(std::move(chosen));
        // The kept entries are spans of the old image, a piece per run of them.
        std::size_t run = 0;
        std::size_t seen = 0;
        std::uint64_t rest = old.size;
        // Lines that nobody will see are not made: removing all of an image
        // of millions of empty blocks keeps no line per entry.
        const bool quiet = options.quiet && !options.dry_run;
        tape_entry entry;
        bool read = true;
        const bool walked = walk_entry_bounds(
            old.size, old.read, [&](std::size_t index, const entry_bounds& bounds) {
                while (run < removed.size() && removed[run].last < index)
                    ++run;
                if (run == removed.size()) {
                    rest = bounds.offset;
                    return false;
                }
                seen = index + 1;
                if (index < removed[run].first) {
                    add_old_span(plan, bounds.offset, bounds.span);
                    return true;
                }
                if (quiet)
                    return true;
                read = read_entry_head(old.read, bounds, index, entry);
                if (read)
                    report.lines += "removed entry " + std::to_string(index + 1) + " (" +
                                    describe_entry(entry) + ")\n";
                return read;
            });
        if (!walked || !read)
            return tool_failed;
        if (seen < must_see) {
            // The image ended before an entry the words name; the walk has
            // counted all of it.
            chosen.clear();
            return report_entry_list(path, choose_entry_runs(options.entries, seen, chosen));
        }
        if (rest < old.size)
            add_old_span(plan, rest, old.size - rest);
        return tool_ok;
    };
    return run_change({"rm", path, false, options}, work);
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
