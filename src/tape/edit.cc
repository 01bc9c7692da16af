#include "tape/edit.h"

#include "tape/blocks.h"

#include <algorithm>
#include <cctype>

namespace cassmak::core {

bool entry_is_open(const tape_entry& entry)
{
    return entry.kind == entry_kind::truncated ||
           (entry.kind == entry_kind::file && entry.data_checksum == data_checksum_state::absent);
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
