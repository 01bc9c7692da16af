// The layout of a tape image, shared by its writer (blocks.h) and its reader
// (reader.h). Every block is a 16-bit length and that many bytes; a stored
// file is a header block followed by a data block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cassmak::core {

// Every 16-bit field of the tape, and of the BASIC program image inside it,
// is unsigned and stored low byte first.
inline void store_word(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

inline std::uint16_t load_word(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

// The length field in front of every block.
constexpr std::size_t block_length_size = 2;

// The header block's body: the sync pattern, then the file head, then the
// head's checksum.
constexpr std::size_t header_body_size = 63;
constexpr std::size_t sync_run = 16; // each of the three runs of the pattern
constexpr std::uint8_t sync_bytes[3] = {0xFF, 0x00, 0x55};
constexpr std::size_t sync_size = 3 * sync_run;

// Offsets within the body.
constexpr std::size_t file_head_offset = sync_size;
constexpr std::size_t file_head_size = 14; // number to name: what the checksum covers
constexpr std::size_t head_number = 0;     // from here on relative to the file head
constexpr std::size_t head_type = 1;
constexpr std::size_t head_address = 2;
constexpr std::size_t head_length = 4; // payload length - 1
constexpr std::size_t head_name = 6;
constexpr std::size_t name_width = 8;
constexpr std::size_t header_checksum_offset = file_head_offset + file_head_size;
static_assert(header_checksum_offset + 1 == header_body_size, "the checksum ends the header");
static_assert(head_name + name_width == file_head_size, "the name ends the file head");

// The sync byte expected at position `i` of the header body (i < sync_size).
constexpr std::uint8_t sync_byte(std::size_t i)
{
    return sync_bytes[i / sync_run];
}

// Bytes a header-and-data pair adds around its payload: both length fields,
// the header body and the data checksum.
constexpr int tape_file_overhead = static_cast<int>(2 * block_length_size + header_body_size + 1);
static_assert(tape_file_overhead == 68, "a stored file is its payload and 68 bytes");

} // namespace cassmak::core
