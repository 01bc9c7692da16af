#include "tape/changes.h"

#include "tape/format.h"
#include "tape/words.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace cassmak::core {

namespace {

change_outcome refused(std::string message)
{
    change_outcome outcome;
    outcome.status = change_refused;
    outcome.message = std::move(message);
    return outcome;
}

// "entries 4 to 6", "entry 4".
std::string entry_range(std::size_t first, std::size_t count)
{
    return count == 1
               ? "entry " + std::to_string(first)
               : "entries " + std::to_string(first) + " to " + std::to_string(first + count - 1);
}

} // namespace

std::string describe_change(const header_change& change)
{
    std::string text;
    if (change.name) {
        std::string name(change.name->begin(), change.name->end());
        name.erase(name.find_last_not_of(' ') + 1);
        text += ", name \"" + name + "\"";
    }
    if (change.number)
        text += ", number " + std::to_string(*change.number);
    if (change.type)
        text += ", type '" + std::string(1, static_cast<char>(*change.type)) + "'";
    if (change.address) {
        char address[8];
        std::snprintf(address, sizeof address, "0x%04X", *change.address);
        text += ", address " + std::string(address);
    }
    // The page may rewrite a header with no field given: its checksum alone.
    return text.erase(0, 2);
}

std::string take_header_field(header_field field, const std::string& text, header_change& change)
{
    if (!header_field_takes(field, text))
        return header_field_refusal(field, text);
    unsigned long value = 0;
    if (field == header_field::name) {
        make_name_field(text, change.name.emplace());
    } else if (field == header_field::type) {
        change.type = static_cast<std::uint8_t>(text[0]);
    } else {
        parse_field_number(text, value);
        if (field == header_field::number)
            change.number = static_cast<std::uint8_t>(value);
        else
            change.address = static_cast<std::uint16_t>(value);
    }
    return {};
}

std::string entry_list_message(const std::string& path, const entry_list_result& result)
{
    const std::string why = result.outcome == entry_list_outcome::not_a_number
                                ? "entry '" + result.word + "' is not a number or range"
                            : result.outcome == entry_list_outcome::reversed_range
                                ? "range '" + result.word + "' runs backwards"
                                : "no entry " + result.number;
    return path + ": " + why;
}

std::string open_inside_words(const std::string& path, entry_kind kind, const std::string& origin,
                              std::size_t entry)
{
    return path + ": refused: entry " + std::to_string(entry) + " of " + origin + " (" +
           (kind == entry_kind::truncated ? "a truncated tail" : "a file without a data block") +
           ") can only end an image; what followed it would be read as its part";
}

std::string open_inside_page_words(std::size_t entry)
{
    return "entry " + std::to_string(entry) +
           " is cut short and keeps its meaning only at the end of the tape";
}

bool refuse(change_plan& plan, std::string message)
{
    plan.status = change_refused;
    plan.message = std::move(message);
    return true;
}

namespace {

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
// whose reach is the whole image, or is not a number or a range.
std::size_t highest_entry_named(const std::vector<std::string>& words)
{
    // More entries than any image holds, and no overflow on the way there,
    // where a size is 32 bits (the web page) as where it is 64.
    constexpr std::size_t beyond = std::numeric_limits<std::size_t>::max() / 16;
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

    // The refusal of a new image `path` with this entry inside it.
    bool refuse_image(change_plan& plan, const std::string& path) const
    {
        plan.open_entry = entry;
        return refuse(plan, open_inside_words(path, kind, *origin, entry));
    }
};

} // namespace

bool plan_remove(const image_source& old, const std::string& path,
                 const std::vector<std::string>& words, const change_lines& lines,
                 change_plan& plan)
{
    // Where the words name their entries by number, the walk that plans the
    // removal also proves those entries are there, and ends at the last of
    // them: everything after it is kept as one span. Only `all` or a word in
    // error needs the count first. Half the reads of a large image is what
    // keeps the edit within the cost of a copy.
    std::vector<entry_run> chosen;
    const std::size_t highest = highest_entry_named(words);
    std::size_t must_see = highest;
    if (highest == 0 ||
        choose_entry_runs(words, highest, chosen).outcome != entry_list_outcome::chosen) {
        chosen.clear();
        must_see = 0;
        std::size_t count = 0;
        if (!count_entries(old.size, old.read, count))
            return false;
        const entry_list_result result = choose_entry_runs(words, count, chosen);
        if (result.outcome != entry_list_outcome::chosen)
            return refuse(plan, entry_list_message(path, result));
    }
    const std::vector<entry_run> removed = joined_runs(std::move(chosen));
    // The kept entries are spans of the old image, a piece per run of them.
    std::size_t run = 0;
    std::size_t seen = 0;
    std::uint64_t rest = old.size;
    tape_entry entry;
    bool read = true;
    const bool walked =
        walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& bounds) {
            while (run < removed.size() && removed[run].last < index)
                ++run;
            if (run == removed.size()) {
                rest = bounds.offset;
                return false;
            }
            seen = index + 1;
            if (index < removed[run].first) {
                add_old_span(plan.pieces, bounds.offset, bounds.span);
                return true;
            }
            // Removing all of an image of millions of empty blocks quietly
            // reads no header.
            if (!lines)
                return true;
            read = read_entry_head(old.read, bounds, index, entry);
            if (read)
                lines("removed entry " + std::to_string(index + 1) + " (" + describe_entry(entry) +
                      ")\n");
            return read;
        });
    if (!walked || !read)
        return false;
    if (seen < must_see) {
        // The image ended before an entry the words name, and the walk has
        // counted all of it.
        chosen.clear();
        return refuse(plan, entry_list_message(path, choose_entry_runs(words, seen, chosen)));
    }
    if (rest < old.size)
        add_old_span(plan.pieces, rest, old.size - rest);
    return true;
}

bool find_entry_bounds(const image_source& old, const std::string& path,
                       const std::string& entry_word, std::size_t entry, entry_bounds& bounds,
                       change_plan& plan)
{
    std::size_t count = 0;
    if (!walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& b) {
            if (index + 1 == entry)
                bounds = b;
            // The entries after the one named are kept whole, unread; only a
            // missing entry needs them all counted.
            return ++count != entry;
        }))
        return false;
    if (entry < 1 || entry > count)
        return refuse(plan, missing_entry_message(path, entry_word, count));
    return true;
}

bool plan_set(const image_source& old, const std::string& path, const std::string& entry_word,
              std::size_t entry, const header_change& change, bool force, const change_lines& lines,
              change_plan& plan)
{
    entry_bounds bounds;
    if (!find_entry_bounds(old, path, entry_word, entry, bounds, plan))
        return false;
    if (plan.status == change_refused)
        return true;
    tape_entry chosen;
    std::vector<std::uint8_t>& window = plan.held; // the entry, its header rewritten
    if (!read_entry(old.read, bounds, entry - 1, window, chosen))
        return false;
    if (chosen.kind != entry_kind::file)
        return refuse(plan, entry_label(path, chosen) + " is " +
                                (chosen.kind == entry_kind::headless ? "a headless block"
                                                                     : "a truncated tail") +
                                ": it has no header to set");
    if (!chosen.header_checksum_good) {
        // Computing the checksum again would hide the damage.
        if (!force)
            return refuse(plan, entry_label(path, chosen) +
                                    " has a bad header checksum; --force rewrites it anyway");
        plan.notes.push_back(entry_label(path, chosen) +
                             " had a bad header checksum; rewritten with a new one");
        plan.status = change_forced;
    }
    if (lines)
        lines("set entry " + std::to_string(chosen.entry) + " (" + describe_entry(chosen) +
              "): " + describe_change(change) + "\n");
    apply_header_change(window, chosen, change);
    // Only the header block is new; the rest stays where it lies.
    constexpr std::uint64_t head = block_length_size + header_body_size;
    window.resize(head);
    add_old_span(plan.pieces, 0, bounds.offset);
    plan.pieces.push_back({window.data(), 0, head});
    add_old_span(plan.pieces, bounds.offset + head, old.size - bounds.offset - head);
    return true;
}

bool plan_move(const image_source& old, const std::string& path, const std::string& entry_word,
               std::size_t entry, const std::string& position_word, std::size_t position,
               const change_lines& lines, change_plan& plan)
{
    std::size_t count = 0;
    if (!count_entries(old.size, old.read, count))
        return false;
    if (entry < 1 || entry > count)
        return refuse(plan, missing_entry_message(path, entry_word, count));
    if (position < 1 || position > count)
        return refuse(plan,
                      path + ": no entry " + position_word + " to move to" + entries_are(count));
    const std::size_t from = entry - 1;
    const std::size_t to = position - 1;
    // Only the last two entries can be open (a file without its data block,
    // then the truncated tail of that block): the first of them that the
    // move puts before another entry is refused.
    entry_bounds moved;
    entry_bounds target;
    open_inside inside;
    if (!walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& bounds) {
            if (index == from)
                moved = bounds;
            if (index == to)
                target = bounds;
            inside.consider(moved_position(index, from, to), count, bounds, path, index);
            return true;
        }))
        return false;
    if (inside.origin)
        return inside.refuse_image(plan, path);
    if (lines) {
        std::vector<std::uint8_t> window;
        tape_entry whole;
        if (!read_entry(old.read, moved, from, window, whole))
            return false;
        lines("moved entry " + std::to_string(entry) + " (" + describe_entry(whole) +
              ") to entry " + std::to_string(position) + "\n");
    }
    std::vector<plan_piece>& pieces = plan.pieces;
    const std::uint64_t moved_end = moved.offset + moved.span;
    const std::uint64_t target_end = target.offset + target.span;
    if (from < to) {
        add_old_span(pieces, 0, moved.offset);
        add_old_span(pieces, moved_end, target_end - moved_end);
        add_old_span(pieces, moved.offset, moved.span);
        add_old_span(pieces, target_end, old.size - target_end);
    } else {
        add_old_span(pieces, 0, target.offset);
        add_old_span(pieces, moved.offset, moved.span);
        add_old_span(pieces, target.offset, moved.offset - target.offset);
        add_old_span(pieces, moved_end, old.size - moved_end);
    }
    return true;
}

bool plan_copy(const image_source& old, const std::string& path, const std::uint8_t* source,
               std::size_t source_size, const std::string& source_path,
               const std::vector<std::string>& words, const std::optional<std::string>& at_word,
               std::size_t at, bool force, const change_lines& lines, change_plan& plan)
{
    // Within one image the copies are taken from it as the plan finds it.
    const image_bytes_reader from_memory = memory_reader(source, source_size);
    const image_bytes_reader& read_from = source ? from_memory : old.read;
    const std::uint64_t from_size = source ? source_size : old.size;
    std::size_t count = 0;
    if (!count_entries(old.size, old.read, count))
        return false;
    std::size_t before = count;
    if (at_word) {
        if (at < 1 || at > count + 1)
            return refuse(plan,
                          path + ": no entry " + *at_word + " to copy before" + entries_are(count));
        before = at - 1;
    }
    std::size_t from_count = 0;
    if (!count_entries(from_size, read_from, from_count))
        return false;
    std::vector<entry_run> chosen;
    const entry_list_result result = choose_entry_runs(words, from_count, chosen);
    if (result.outcome != entry_list_outcome::chosen)
        return refuse(plan, entry_list_message(source_path, result));
    std::size_t copies = 0;
    for (const entry_run& run : chosen)
        copies += run.last - run.first + 1;
    const std::size_t total = count + copies;

    open_inside inside;
    std::vector<plan_piece> copied; // a piece per run
    std::vector<std::uint8_t> window;
    tape_entry entry;
    std::size_t position = before; // of the next copy in the new image
    for (const entry_run& run : chosen) {
        std::uint64_t first = 0;
        std::uint64_t end = 0;
        bool read = true;
        bool refused = false;
        if (!walk_entry_bounds(from_size, read_from,
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
                                       if (!force) {
                                           refused = refuse(plan, damage_label(source_path, entry) +
                                                                      "; --force copies it anyway");
                                           return false;
                                       }
                                       plan.notes.push_back(damage_label(source_path, entry) +
                                                            "; copied as it is");
                                       plan.status = change_forced;
                                   }
                                   inside.consider(position, total, bounds, source_path, index);
                                   if (lines)
                                       lines("copied entry " + std::to_string(index + 1) + " (" +
                                             describe_entry(entry) + ") as entry " +
                                             std::to_string(position + 1) + "\n");
                                   ++position;
                                   return index < run.last;
                               }) ||
            !read)
            return false;
        if (refused)
            return true;
        if (source)
            copied.push_back({source + first, 0, end - first});
        else
            add_old_span(copied, first, end - first);
    }
    std::uint64_t split = old.size; // where the copies go in the old image
    if (!walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& bounds) {
            if (index == before)
                split = bounds.offset;
            inside.consider(index < before ? index : index + copies, total, bounds, path, index);
            return true;
        }))
        return false;
    if (inside.origin)
        return inside.refuse_image(plan, path);
    add_old_span(plan.pieces, 0, split);
    for (const plan_piece& piece : copied)
        if (piece.bytes)
            plan.pieces.push_back(piece);
        else
            add_old_span(plan.pieces, piece.from, piece.count);
    add_old_span(plan.pieces, split, old.size - split);
    return true;
}

bool plan_add(const image_source& old, const std::string& path, const std::uint8_t* added,
              std::size_t added_size, const std::vector<std::string>& names, bool force,
              const change_lines& lines, change_plan& plan)
{
    std::size_t count = 0;
    entry_bounds last;
    if (!walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& bounds) {
            count = index + 1;
            last = bounds;
            return true;
        }))
        return false;
    std::vector<std::uint8_t> window;
    tape_entry entry;
    if (count > 0 && last.open) {
        if (!read_entry(old.read, last, count - 1, window, entry))
            return false;
        const std::string words = open_inside_words(path, last.kind, path, count);
        if (!force)
            return refuse(plan, words + "; --force adds after it anyway");
        plan.notes.push_back(damage_label(path, entry) + "; added after it all the same");
        plan.status = change_forced;
    }
    if (lines) {
        const image_bytes_reader read_added = memory_reader(added, added_size);
        bool read = true;
        if (!walk_entry_bounds(added_size, read_added,
                               [&](std::size_t index, const entry_bounds& bounds) {
                                   read = read_entry(read_added, bounds, index, window, entry);
                                   if (read && index < names.size())
                                       lines("added " + names[index] + " as entry " +
                                             std::to_string(count + index + 1) + " (" +
                                             describe_entry(entry) + ")\n");
                                   return read;
                               }) ||
            !read)
            return false;
    }
    add_old_span(plan.pieces, 0, old.size);
    plan.pieces.push_back({added, 0, added_size});
    return true;
}

namespace {

// Plans a change over the image `old` held in memory, by `plan_with` (given
// the image, where its lines go and the plan to fill), and makes the plan's
// bytes, in place where it only moves bytes forward: the lines and notes, or
// the refusal.
template <typename Plan>
change_outcome made_in_memory(std::vector<std::uint8_t>&& old, Plan plan_with)
{
    const image_bytes_reader read = memory_reader(old.data(), old.size());
    change_plan plan;
    std::string lines;
    plan_with(
        image_source{old.size(), read}, [&](const std::string& line) { lines += line; }, plan);
    if (plan.status == change_refused) {
        change_outcome outcome = refused(std::move(plan.message));
        outcome.open_entry = plan.open_entry;
        return outcome;
    }
    change_outcome outcome;
    outcome.status = plan.status;
    outcome.lines = std::move(lines);
    outcome.notes = std::move(plan.notes);
    if (assemble_plan_in_place(plan.pieces, old)) {
        outcome.image = std::move(old);
    } else {
        // Nothing fails reading an image held in memory.
        assemble_plan(plan.pieces, read, outcome.image);
    }
    return outcome;
}

} // namespace

change_outcome remove_change(std::vector<std::uint8_t>&& old, const std::string& path,
                             const std::vector<std::string>& words)
{
    return made_in_memory(std::move(old),
                          [&](const image_source& image, const change_lines& lines,
                              change_plan& plan) { plan_remove(image, path, words, lines, plan); });
}

change_outcome set_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::string& entry_word, std::size_t entry,
                          const header_change& change, bool force)
{
    return made_in_memory(std::move(old), [&](const image_source& image, const change_lines& lines,
                                              change_plan& plan) {
        plan_set(image, path, entry_word, entry, change, force, lines, plan);
    });
}

change_outcome move_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::string& entry_word, std::size_t entry,
                           const std::string& position_word, std::size_t position)
{
    return made_in_memory(std::move(old), [&](const image_source& image, const change_lines& lines,
                                              change_plan& plan) {
        plan_move(image, path, entry_word, entry, position_word, position, lines, plan);
    });
}

change_outcome copy_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::uint8_t* source, std::size_t source_size,
                           const std::string& source_path, const std::vector<std::string>& words,
                           const std::optional<std::string>& at_word, std::size_t at, bool force)
{
    return made_in_memory(std::move(old), [&](const image_source& image, const change_lines& lines,
                                              change_plan& plan) {
        plan_copy(image, path, source, source_size, source_path, words, at_word, at, force, lines,
                  plan);
    });
}

change_outcome add_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::uint8_t* added, std::size_t added_size,
                          const std::vector<std::string>& names, bool force)
{
    return made_in_memory(std::move(old), [&](const image_source& image, const change_lines& lines,
                                              change_plan& plan) {
        plan_add(image, path, added, added_size, names, force, lines, plan);
    });
}

bool join_entry(join_state& join, const std::string& path, const tape_entry& entry)
{
    if (entry.kind == entry_kind::truncated) {
        if (!join.force) {
            join.status = change_refused;
            join.message = damage_label(path, entry) + "; --force takes it anyway";
            return false;
        }
        join.notes.push_back(damage_label(path, entry) + "; taken as it is");
        join.status = change_forced;
    }
    if (join.open_entry != 0) {
        join.followed = true;
    } else if (entry_is_open(entry)) {
        join.open_entry = entry.entry;
        join.open_kind = entry.kind;
        join.open_path = path;
    }
    ++join.image_entries;
    return true;
}

void join_image_done(join_state& join, const std::string& path, std::uint64_t size)
{
    const std::size_t count = join.image_entries;
    join.entries += count;
    join.size += size;
    join.image_entries = 0;
    // The entries cover their image: its bytes are theirs.
    const auto span = static_cast<std::size_t>(size);
    join.lines += count == 0 ? "joined " + path + ": no entries\n"
                             : "joined " + path + " as " +
                                   entry_range(join.entries - count + 1, count) + " (" +
                                   grouped(span) + (span == 1 ? " byte" : " bytes") + ")\n";
}

bool join_done(join_state& join, const std::string& output)
{
    if (!join.followed)
        return true;
    join.status = change_refused;
    join.message = open_inside_words(output, join.open_kind, join.open_path, join.open_entry);
    return false;
}

change_outcome join_change(const std::vector<std::vector<std::uint8_t>>& images,
                           const std::vector<std::string>& paths, const std::string& output,
                           bool force)
{
    join_state join;
    join.force = force;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::vector<std::uint8_t>& image = images[i];
        std::size_t given = 0;
        const image_stream_reader next = [&](std::uint8_t* into, std::size_t room,
                                             std::size_t& got) {
            got = std::min(room, image.size() - given);
            std::copy_n(image.data() + given, got, into);
            given += got;
            return true;
        };
        const window_visitor visit = [&](const tape_entry& entry, const std::uint8_t*,
                                         std::uint64_t) { return join_entry(join, paths[i], entry); };
        // Nothing fails reading an image held in memory.
        walk_image_window(next, visit);
        if (join.status == change_refused)
            return refused(std::move(join.message));
        join_image_done(join, paths[i], image.size());
    }
    if (!join_done(join, output)) {
        change_outcome refusal = refused(std::move(join.message));
        refusal.open_entry = join.open_entry;
        return refusal;
    }
    change_outcome outcome;
    outcome.status = join.status;
    outcome.lines = std::move(join.lines);
    outcome.notes = std::move(join.notes);
    outcome.image.reserve(static_cast<std::size_t>(join.size));
    for (const std::vector<std::uint8_t>& image : images)
        outcome.image.insert(outcome.image.end(), image.begin(), image.end());
    return outcome;
}

split_plan plan_split(const std::uint8_t* image, std::size_t size, const std::string& path,
                      bool force)
{
    split_plan plan;
    const std::vector<tape_entry> entries = read_tape_image(image, size);
    for (const tape_entry& entry : entries) {
        if (entry.kind == entry_kind::truncated) {
            if (!force) {
                plan.status = change_refused;
                plan.message = damage_label(path, entry) + "; --force writes it anyway";
                return plan;
            }
            plan.notes.push_back(damage_label(path, entry) + "; written as it is");
            plan.status = change_forced;
        }
        plan.parts.push_back({entry.entry, entry.offset, entry.span,
                              derived_file_name(entry, entries.size(), ".kst"),
                              describe_entry(entry)});
    }
    return plan;
}

std::string split_line(const split_part& part, const std::string& output)
{
    return "wrote entry " + std::to_string(part.entry) + " (" + part.description + ") to " +
           output + "\n";
}

} // namespace cassmak::core
