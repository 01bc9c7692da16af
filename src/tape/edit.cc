#include "tape/edit.h"

#include "tape/blocks.h"

#include <algorithm>
#include <cctype>

namespace cassmak::core {
tape_image make_tape_image(std::vector<std::uint8_t> bytes)
{
    tape_image image;
    image.bytes = std::move(bytes);
    image.size = image.bytes.size();
    image.entries = read_tape_image(image.bytes.data(), image.size);
    return image;
}

tape_image view_tape_image(const std::uint8_t* data, std::size_t size)
{
    tape_image image;
    image.view = data;
    image.size = size;
    image.entries = read_tape_image(data, size);
    return image;
}

std::vector<std::uint8_t> assemble_image(const std::vector<entry_piece>& pieces)
{
    std::size_t total = 0;
    for (const entry_piece& piece : pieces)
        total += piece.source->entries[piece.index].span;
    std::vector<std::uint8_t> out;
    out.reserve(total);
    for (const entry_piece& piece : pieces) {
        const tape_entry& entry = piece.source->entries[piece.index];
        const std::uint8_t* begin = piece.source->data() + entry.offset;
        out.insert(out.end(), begin, begin + entry.span);
    }
    return out;
}

std::vector<std::uint8_t> remove_entries_in_place(tape_image&& image,
                                                  const std::vector<bool>& removed)
{
    std::vector<std::uint8_t> bytes = std::move(image.bytes);
    std::size_t end = 0;
    for (std::size_t i = 0; i < image.entries.size(); ++i) {
        const tape_entry& entry = image.entries[i];
        if (removed[i])
            continue;
        // Kept entries only move towards the front, so a forward copy is safe.
        if (end != entry.offset)
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(entry.offset),
                      bytes.begin() + static_cast<std::ptrdiff_t>(entry.offset + entry.span),
                      bytes.begin() + static_cast<std::ptrdiff_t>(end));
        end += entry.span;
    }
    bytes.resize(end);
    return bytes;
}

bool entry_is_open(const tape_entry& entry)
{
    return entry.kind == entry_kind::truncated ||
           (entry.kind == entry_kind::file && entry.data_checksum == data_checksum_state::absent);
}

std::size_t first_open_inside(const std::vector<entry_piece>& pieces)
{
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i)
        if (entry_is_open(pieces[i].source->entries[pieces[i].index]))
            return i;
    return pieces.size();
}

std::vector<entry_piece> entry_pieces(const tape_image& image)
{
    std::vector<entry_piece> pieces;
    pieces.reserve(image.entries.size());
    for (std::size_t i = 0; i < image.entries.size(); ++i)
        pieces.push_back({&image, i});
    return pieces;
}

std::vector<entry_piece> remove_entries(const tape_image& image, const std::vector<bool>& removed)
{
    std::vector<entry_piece> pieces;
    for (std::size_t i = 0; i < image.entries.size(); ++i)
        if (!removed[i])
            pieces.push_back({&image, i});
    return pieces;
}

std::vector<entry_piece> move_entry(const tape_image& image, std::size_t from, std::size_t to)
{
    std::vector<entry_piece> pieces = entry_pieces(image);
    const auto first = pieces.begin();
    if (from < to)
        std::rotate(first + static_cast<std::ptrdiff_t>(from),
                    first + static_cast<std::ptrdiff_t>(from) + 1,
                    first + static_cast<std::ptrdiff_t>(to) + 1);
    else
        std::rotate(first + static_cast<std::ptrdiff_t>(to),
                    first + static_cast<std::ptrdiff_t>(from),
                    first + static_cast<std::ptrdiff_t>(from) + 1);
    return pieces;
}

std::vector<entry_piece> insert_entries(const tape_image& image, std::size_t at,
                                        const std::vector<entry_piece>& pieces)
{
    std::vector<entry_piece> out = entry_pieces(image);
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), pieces.begin(), pieces.end());
    return out;
}

void apply_header_change(std::vector<std::uint8_t>& bytes, const tape_entry& entry,
                         const header_change& change)
{
    std::uint8_t* head = bytes.data() + entry.offset + block_length_size + file_head_offset;
    if (change.number)
        head[head_number] = *change.number;
    if (change.type)
        head[head_type] = *change.type;
    if (change.address)
        store_word(head + head_address, *change.address);
    if (change.name)
        std::copy(change.name->begin(), change.name->end(), head + head_name);
    std::uint8_t sum = 0;
    sum_bytes(head, static_cast<int>(file_head_size), sum);
    head[file_head_size] = sum;
}

namespace {

bool all_digits(const std::string& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The 1-based entry `text` names as a 0-based index, or false when it is
// not one of the `count` entries.
bool entry_index(const std::string& text, std::size_t count, std::size_t& index)
{
    std::size_t number = 0;
    for (const char c : text) {
        number = number * 10 + static_cast<std::size_t>(c - '0');
        if (number > count)
            return false;
    }
    if (number == 0)
        return false;
    index = number - 1;
    return true;
}

} // namespace

entry_list_result choose_entry_runs(const std::vector<std::string>& words, std::size_t count,
                                    std::vector<entry_run>& runs)
{
    for (const std::string& word : words) {
        if (word == "all") {
            if (count > 0)
                runs.push_back({0, count - 1});
            continue;
        }
        const std::size_t dash = word.find('-');
        const std::string first = word.substr(0, dash);
        const std::string last = dash == std::string::npos ? first : word.substr(dash + 1);
        if (!all_digits(first) || !all_digits(last))
            return {entry_list_outcome::not_a_number, word, {}};
        std::size_t from = 0;
        std::size_t to = 0;
        if (!entry_index(first, count, from))
            return {entry_list_outcome::no_such_entry, word, first};
        if (!entry_index(last, count, to))
            return {entry_list_outcome::no_such_entry, word, last};
        if (to < from)
            return {entry_list_outcome::reversed_range, word, {}};
        runs.push_back({from, to});
    }
    return {};
}

entry_list_result choose_entries(const std::vector<std::string>& words, std::size_t count,
                                 std::vector<std::size_t>& indexes)
{
    std::vector<entry_run> runs;
    entry_list_result result = choose_entry_runs(words, count, runs);
    if (result.outcome == entry_list_outcome::chosen)
        for (const entry_run& run : runs)
            for (std::size_t i = run.first; i <= run.last; ++i)
                indexes.push_back(i);
    return result;
}

std::string safe_name(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    if (out == "." || out == "..")
        out.assign(out.size(), '_');
    return out;
}

std::string derived_file_name(const tape_entry& entry, std::size_t count,
                              const std::string& extension)
{
    std::string number = std::to_string(entry.entry);
    const std::size_t width = std::max<std::size_t>(2, std::to_string(count).size());
    if (number.size() < width)
        number.insert(0, width - number.size(), '0');
    std::string name;
    if (entry.kind == entry_kind::file) {
        name.assign(entry.name.begin(), entry.name.end());
        name.erase(name.find_last_not_of(' ') + 1);
    } else {
        name = entry.kind == entry_kind::headless ? "headless" : "truncated";
    }
    if (!name.empty())
        number += "-" + safe_name(name);
    return number + extension;
}

} // namespace cassmak::core
