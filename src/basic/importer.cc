#include "basic/importer.h"

#include "basic/tokenizer.h"
#include "io/files.h"
#include "io/status.h"
#include "tape/blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// A read takes at most this many characters; a longer line comes in pieces.
constexpr int piece_length = 126;
constexpr std::size_t long_line = 77;
constexpr std::size_t short_text = 3;

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Two's complement reading of the low 32 bits, without relying on how the
// compiler converts an out-of-range unsigned value.
std::int32_t as_signed(std::uint32_t value)
{
    if (value <= INT32_MAX)
        return static_cast<std::int32_t>(value);
    return static_cast<std::int32_t>(value - 0x80000000u) + INT32_MIN;
}

} // namespace

int import_basic(std::uint8_t* buffer, int capacity, std::FILE* source,
                 const std::string& source_path)
{
    const int limit = std::min(capacity, basic_image_max);
    std::fputs("Importing BASIC program...\n", stdout);
    std::uint32_t next_address = basic_base_address;
    std::int32_t previous_number = 0;
    int length = 0;
    char piece[piece_length + 1];
    while (std::fgets(piece, sizeof piece, source)) {
        // A NUL ends the line; strlen stops there by itself.
        std::string_view line(piece, std::strlen(piece));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.empty())
            continue;

        std::uint32_t digits = 0;
        std::size_t at = 0;
        for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at)
            digits = digits * 10 + static_cast<std::uint32_t>(line[at] - '0');
        const std::int32_t number = as_signed(digits);
        while (at < line.size() && is_space(line[at]))
            ++at;

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
            return report_status(status_basic_too_large, source_path, 0, limit);
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
        return report_status(status_basic_too_large, source_path, 0, limit);
    buffer[length++] = 0x00;
    buffer[length++] = 0x00;
    std::fputs("\rDone.\t\t\n", stdout);
    return length;
}

int load_basic_program(const std::string& path, std::uint8_t* buffer, int capacity,
                       std::FILE*& source_out)
{
    int status = open_basic_source(path, basic_source_min, basic_source_max, source_out);
    if (status < 0)
        return status;
    return import_basic(buffer, capacity, source_out, path);
}
