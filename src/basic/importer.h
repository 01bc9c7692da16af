// Turns a BASIC program written as numbered text lines into the machine's
// in-memory program image: linked line records ending with a zero link.
#pragma once

#include "basic/program_format.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak::core {

constexpr int basic_source_min = 5;
constexpr int basic_source_max = 65535;

// What import_basic returns for an image that does not fit.
constexpr int import_too_large = -19;

// Where the importer's next read ends when the source is `text` and the read
// starts at `from`: after a newline if one comes within basic_piece_length
// characters, else after basic_piece_length characters, else at the end.
std::size_t next_piece_end(std::string_view text, std::size_t from);

// One read of the importer taken apart: the line cut at its first NUL and
// stripped of trailing carriage returns and newlines (empty: the read is
// skipped), the number its leading digits give (modulo 2^32; 0 without
// digits; the record keeps the low 16 bits), and where the statement text
// starts after the digits and the white space that follows them.
struct source_line {
    std::string_view line;
    std::uint32_t number = 0;
    std::size_t statement_at = 0;
    std::string_view statement() const
    {
        return line.substr(statement_at);
    }
};
source_line split_source_line(std::string_view piece);

// The white space skipped between a line's number and its statement text.
bool is_line_space(char c);

// Two's complement reading of a line number's 32 bits, as the progress line
// and the order test see it.
std::int32_t signed_line_number(std::uint32_t number);

// What the importer saw of one line it read, in the order a progress display
// names it: the number as the progress line shows it, then the warnings.
struct import_line {
    std::int32_t number = 0;
    bool long_line = false;           // more than 77 characters
    bool wrong_order = false;         // numbered lower than the line before,
    std::int32_t previous_number = 0; // which is this
    bool short_line = false;          // fewer than 3 characters of statement text
};

// The outcome of an import: the image length, or import_too_large when the
// image would pass `limit` bytes; and every line read, up to and including
// the one that did not fit.
struct basic_import {
    int length = 0;
    int limit = 0;
    std::vector<import_line> lines;
};

// Reads `source` to its end and writes the program image into `buffer`, which
// holds `capacity` bytes. An image that would exceed `capacity` or
// basic_image_max is refused with import_too_large; nothing is written past
// `capacity` either way.
basic_import import_basic(std::uint8_t* buffer, int capacity, std::string_view source);

// What cassmak says of a line it read, warning by warning, in the order of
// the record ("Line is long. Possible problem!"), without the tab before and
// the line end after each.
std::vector<std::string> import_line_warnings(const import_line& line);

} // namespace cassmak::core
