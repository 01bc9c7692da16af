#include "tape/changes.h"

#include "tape/words.h"

#include <cstdio>

namespace {

change_outcome refused(std::string message)
{
    change_outcome outcome;
    outcome.status = change_refused;
    outcome.message = std::move(message);
    return outcome;
}

// Every piece of `pieces` comes from `image` at `path`.
std::vector<piece_origin> origins_in(const std::vector<entry_piece>& pieces,
                                     const std::string& path)
{
    std::vector<piece_origin> origins;
    origins.reserve(pieces.size());
    for (const entry_piece& piece : pieces)
        origins.push_back({&path, piece.index + 1});
    return origins;
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
    return text.substr(2);
}

namespace {

header_field field_of_option(const std::string& option)
{
    return option == "--number"    ? header_field::number
           : option == "--address" ? header_field::address
           : option == "--name"    ? header_field::name
                                   : header_field::type;
}

} // namespace

const char* header_field_needs(const std::string& option)
{
    return header_field_needs(field_of_option(option));
}

std::string take_header_field(const std::string& option, const std::string& text,
                              header_change& change)
{
    const header_field field = field_of_option(option);
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

std::string open_inside_message(const std::string& path, const std::vector<entry_piece>& pieces,
                                const std::vector<piece_origin>& origins)
{
    const std::size_t at = first_open_inside(pieces);
    if (at == pieces.size())
        return {};
    const tape_entry& entry = pieces[at].source->entries[pieces[at].index];
    return open_inside_words(path, entry.kind, *origins[at].path, origins[at].entry);
}

change_outcome remove_change(std::vector<std::uint8_t>&& old, const std::string& path,
                             const std::vector<std::string>& words)
{
    tape_image image = make_tape_image(std::move(old));
    std::vector<std::size_t> chosen;
    const entry_list_result result = choose_entries(words, image.entries.size(), chosen);
    if (result.outcome != entry_list_outcome::chosen)
        return refused(entry_list_message(path, result));
    std::vector<bool> removed(image.entries.size());
    for (const std::size_t index : chosen)
        removed[index] = true;
    change_outcome outcome;
    for (std::size_t i = 0; i < removed.size(); ++i)
        if (removed[i])
            outcome.lines += "removed entry " + std::to_string(i + 1) + " (" +
                             describe_entry(image.entries[i]) + ")\n";
    // The kept entries close up where they lie: no second copy of the image.
    outcome.image = remove_entries_in_place(std::move(image), removed);
    return outcome;
}

change_outcome set_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::string& entry_word, std::size_t entry,
                          const header_change& change, bool force)
{
    tape_image image = make_tape_image(std::move(old));
    const std::size_t count = image.entries.size();
    if (entry < 1 || entry > count)
        return refused(missing_entry_message(path, entry_word, count));
    const tape_entry& chosen = image.entries[entry - 1];
    if (chosen.kind != entry_kind::file)
        return refused(
            entry_label(path, chosen) + " is " +
            (chosen.kind == entry_kind::headless ? "a headless block" : "a truncated tail") +
            ": it has no header to set");
    change_outcome outcome;
    if (!chosen.header_checksum_good) {
        // Computing the checksum again would hide the damage.
        if (!force)
            return refused(entry_label(path, chosen) +
                           " has a bad header checksum; --force rewrites it anyway");
        outcome.notes.push_back(entry_label(path, chosen) +
                                " had a bad header checksum; rewritten with a new one");
        outcome.status = change_forced;
    }
    outcome.lines += "set entry " + std::to_string(chosen.entry) + " (" + describe_entry(chosen) +
                     "): " + describe_change(change) + "\n";
    const tape_entry header = chosen;
    outcome.image = std::move(image.bytes);
    apply_header_change(outcome.image, header, change);
    return outcome;
}

change_outcome move_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::string& entry_word, std::size_t entry,
                           const std::string& position_word, std::size_t position)
{
    const tape_image image = make_tape_image(std::move(old));
    const std::size_t count = image.entries.size();
    if (entry < 1 || entry > count)
        return refused(missing_entry_message(path, entry_word, count));
    if (position < 1 || position > count)
        return refused(path + ": no entry " + position_word + " to move to" + entries_are(count));
    const std::size_t from = entry - 1;
    const std::vector<entry_piece> pieces = move_entry(image, from, position - 1);
    std::string message = open_inside_message(path, pieces, origins_in(pieces, path));
    if (!message.empty())
        return refused(std::move(message));
    change_outcome outcome;
    outcome.lines = "moved entry " + std::to_string(entry) + " (" +
                    describe_entry(image.entries[from]) + ") to entry " + std::to_string(position) +
                    "\n";
    outcome.image = assemble_image(pieces);
    return outcome;
}

change_outcome copy_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::uint8_t* source, std::size_t source_size,
                           const std::string& source_path, const std::vector<std::string>& words,
                           const std::optional<std::string>& at_word, std::size_t at, bool force)
{
    const tape_image image = make_tape_image(std::move(old));
    const tape_image from =
        source ? view_tape_image(source, source_size) : view_tape_image(image.data(), image.size);
    const std::size_t count = image.entries.size();
    std::size_t before = count;
    if (at_word) {
        if (at < 1 || at > count + 1)
            return refused(path + ": no entry " + *at_word + " to copy before" +
                           entries_are(count));
        before = at - 1;
    }
    std::vector<std::size_t> chosen;
    const entry_list_result result = choose_entries(words, from.entries.size(), chosen);
    if (result.outcome != entry_list_outcome::chosen)
        return refused(entry_list_message(source_path, result));
    change_outcome outcome;
    std::vector<entry_piece> copied;
    for (const std::size_t index : chosen) {
        const tape_entry& entry = from.entries[index];
        if (entry.kind == entry_kind::truncated) {
            if (!force)
                return refused(damage_label(source_path, entry) + "; --force copies it anyway");
            outcome.notes.push_back(damage_label(source_path, entry) + "; copied as it is");
            outcome.status = change_forced;
        }
        copied.push_back({&from, index});
    }
    const std::vector<entry_piece> pieces = insert_entries(image, before, copied);
    std::vector<piece_origin> origins;
    origins.reserve(pieces.size());
    for (const entry_piece& piece : pieces)
        origins.push_back({piece.source == &image ? &path : &source_path, piece.index + 1});
    std::string message = open_inside_message(path, pieces, origins);
    if (!message.empty())
        return refused(std::move(message));
    for (std::size_t i = 0; i < copied.size(); ++i) {
        const tape_entry& entry = from.entries[copied[i].index];
        outcome.lines += "copied entry " + std::to_string(entry.entry) + " (" +
                         describe_entry(entry) + ") as entry " + std::to_string(before + i + 1) +
                         "\n";
    }
    outcome.image = assemble_image(pieces);
    return outcome;
}

change_outcome join_change(const std::vector<tape_image>& images,
                           const std::vector<std::string>& paths, const std::string& output,
                           bool force)
{
    change_outcome outcome;
    std::vector<entry_piece> pieces;
    std::vector<piece_origin> origins;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string& path = paths[i];
        std::size_t span = 0;
        for (const tape_entry& entry : images[i].entries) {
            if (entry.kind == entry_kind::truncated) {
                if (!force)
                    return refused(damage_label(path, entry) + "; --force takes it anyway");
                outcome.notes.push_back(damage_label(path, entry) + "; taken as it is");
                outcome.status = change_forced;
            }
            pieces.push_back({&images[i], entry.entry - 1});
            origins.push_back({&path, entry.entry});
            span += entry.span;
        }
        const std::size_t count = images[i].entries.size();
        outcome.lines += count == 0 ? "joined " + path + ": no entries\n"
                                    : "joined " + path + " as " +
                                          entry_range(pieces.size() - count + 1, count) + " (" +
                                          grouped(span) + (span == 1 ? " byte" : " bytes") + ")\n";
    }
    std::string message = open_inside_message(output, pieces, origins);
    if (!message.empty())
        return refused(std::move(message));
    outcome.image = assemble_image(pieces);
    return outcome;
}
