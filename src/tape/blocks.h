// Tape image blocks: each block is a 16-bit little-endian length and that
// many bytes. A stored file is a header block followed by a data block.
#pragma once

#include "tape/format.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace cassmak::core {

// The output image; appending to the vector is the image's cursor.
using output_image = std::vector<std::uint8_t>;

// Adds `count` bytes to `accumulator`, modulo 256.
void sum_bytes(const std::uint8_t* bytes, int count, std::uint8_t& accumulator);

// Appends a header block (sync pattern, file head, checksum) and a data block
// (payload, checksum). Only the low 8 bits of the file number and the low 16
// bits of the address and of the length fields are stored; the name is
// upper-cased and padded or cut to 8 characters.
void put_tape_file(output_image& image, const std::uint8_t* payload, int length, char file_type,
                   int file_number, std::string_view name, int address);

// Appends the payload with only its length in front.
void put_headless_block(output_image& image, const std::uint8_t* payload, int length);

} // namespace cassmak::core
