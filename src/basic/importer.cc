#include "basic/importer.h"

#include "basic/tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cassmak::core {

namespace {

constexpr std::size_t long_line = 77;
constexpr std::size_t short_text = 3;

} // namespace

bool is_line_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::size_t next_piece_end(std::string_view text, std::size_t from)
{
    const std::size_t limit = std::min(text.size(), from + basic_piece_length);
    std::size_t end = from;
    while (end < limit && text[end++] != '\n') {
    }
    return end;
}

source_line split_source_line(std::string_view piece)
{
    source_line result;
    std::string_view line = piece.substr(0, piece.find('\0'));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    result.line = line;
    std::size_t at = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at)
        result.number = result.number * 10 + static_cast<std::uint32_t>(line[at] - '0');
    while (at < line.size() && is_line_space(line[at]))
        ++at;
    result.statement_at = at;
    return result;
}

// Without relying on how the compiler converts an out-of-range unsigned value.
std::int32_t signed_line_number(std::uint32_t number)
{
    if (number <= INT32_MAX)
        return static_cast<std::int32_t>(number);
    return static_cast<std::int32_t>(number - 0x80000000u) + INT32_MIN;
}

basic_import import_basic(std::uint8_t* buffer, int capacity, std::string_view source)
{
    basic_import result;
    const int limit = std::min(capacity, basic_image_max);
    result.limit = limit;
    std::uint32_t next_address = basic_base_address;
    std::int32_t previous_number = 0;
    int length = 0;
    for (std::size_t from = 0; from < source.size();) {
        const std::size_t end = next_piece_end(source, from);
        const source_line split = split_source_line(source.substr(from, end - from));
        from = end;
        const std::string_view line = split.line;
        if (line.empty())
            continue;
        const std::int32_t number = signed_line_number(split.number);
        import_line seen;
        seen.number = number;
        seen.long_line = line.size() > long_line;
        seen.wrong_order = number < previous_number;
        seen.previous_number = previous_number;
        seen.short_line = split.statement().size() < short_text;
        result.lines.push_back(seen);

        const std::string tokens = tokenize_line(split.statement());
        const int record_length = static_cast<int>(record_size(tokens.size()));
        // Room for this record and the end link that must still follow.
        if (length + record_length + static_cast<int>(end_link_size) > limit) {
            result.length = import_too_large;
            return result;
        }
        next_address += static_cast<std::uint32_t>(record_length);
        std::uint8_t* record = buffer + length;
        store_word(record + record_link, next_address);
        store_word(record + record_number, split.number);
        std::copy(tokens.begin(), tokens.end(), record + record_text);
        record[record_length - 1] = record_terminator;
        length += record_length;
        previous_number = number;
    }
    if (length + static_cast<int>(end_link_size) > limit) {
        result.length = import_too_large;
        return result;
    }
    store_word(buffer + length, 0);
    length += static_cast<int>(end_link_size);
    result.length = length;
    return result;
}

std::vector<std::string> import_line_warnings(const import_line& line)
{
    std::vector<std::string> texts;
    if (line.long_line)
        texts.emplace_back("Line is long. Possible problem!");
    if (line.wrong_order)
        texts.push_back("Wrong order of line. Last line " + std::to_string(line.previous_number));
    if (line.short_line)
        texts.emplace_back("Line is short. Possible problem!");
    return texts;
}

} // namespace cassmak::core
