// The machine's in-memory BASIC program, shared by the importer that builds
// it, the lister that reads it back and the source check that predicts it.
// The program is a chain of line records from the base address on, ended by
// a zero link:
//
//   link (2)  number (2)  text (tokenized, no 0x00)  0x00
//
// where the link is the address of the next record and both words are
// stored as every word of the tape is (tape/format.h).
#pragma once

#include "tape/format.h"

#include <cstddef>
#include <cstdint>

namespace cassmak::core {

constexpr int basic_base_address = 0x2401;
constexpr char basic_file_type = '>';

constexpr std::size_t record_link = 0;
constexpr std::size_t record_number = 2;
constexpr std::size_t record_text = 4;
constexpr std::uint8_t record_terminator = 0x00;
constexpr std::size_t end_link_size = 2;

// The bytes a record of `text_size` text bytes takes.
constexpr std::size_t record_size(std::size_t text_size)
{
    return record_text + text_size + 1;
}

// Past this the links, which count from the base address, would leave the
// 16-bit address space.
constexpr int basic_image_max = 0x10000 - basic_base_address + 1;

// The source is read at most this many characters at a time; a longer line
// comes in pieces, each a record of its own.
constexpr int basic_piece_length = 126;

} // namespace cassmak::core
