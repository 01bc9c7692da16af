#include "basic/importer.h"

#include "basic/tokenizer.h"
#include "tape/blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

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

int import_basic(std::uint8_t* buffer, int capacity, std::FILE* source,
                 const std::string& /*source_path*/)
{
    const int limit = std::min(capacity, basic_image_max);
    std::fputs("Importing BASIC program...\n", stdout);
    std::uint32_t next_address = basic_base_address;
    std::int32_t previous_number = 0;
    int length = 0;
    char piece[basic_piece_length + 1];
    while (std::fgets(piece, sizeof piece, source)) {
        // A NUL ends the line; strlen stops there by itself.
        const source_line split = split_source_line(std::string_view(piece, std::strlen(piece)));
        const std::string_view line = split.line;
        if (line.empty())
            continue;
        const std::uint32_t digits = split.number;
        const std::int32_t number = signed_line_number(digits);
        const std::size_t at = split.statement_at;

        std::printf("\rLine: %d", static_cast<int>(number));
        if (line.size() > long_line)
            std::fputs("\tLine is long. Possible problem!\n", stdout);
        if (number < previous_number)
            std::printf("\tWrong order of line. Last line %d\n", static_cast<int>(previous_number));
        if (line.size() - at < short_text)
            std::fputs("\tLine is short. Possible problem!\n", stdout);

        const std::string tokens = tokenize_line(line.substr(at));
        const int record_length = 4 + static_cast<int>(tokens.size()) + 1;
        // Room for this record and the end link that must still follow.
        if (length + record_length + 2 > limit)
            return import_too_large;
        next_address += static_cast<std::uint32_t>(record_length);
        std::uint8_t* record = buffer + length;
        store_word(record, next_address);
        store_word(record + 2, digits);
        std::memcpy(record + 4, tokens.data(), tokens.size());
        record[record_length - 1] = 0x00;
        length += record_length;
        previous_number = number;
    }
    if (length + 2 > limit)
        return import_too_large;
    buffer[length++] = 0x00;
    buffer[length++] = 0x00;
    std::fputs("\rDone.\t\t\n", stdout);
    return length;
}
