// Reading a tape image back: the walk over its blocks, grouped into entries
// as the machine's loader sees them.
#pragma once

#include "tape/format.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cassmak::core {

enum class entry_kind {
    file,      // a header block and the block after it
    headless,  // any other whole block
    truncated, // bytes at the end that do not make a whole block
};

enum class data_checksum_state { good, bad, absent };

struct tape_entry {
    std::size_t entry = 0;  // 1-based position in the image
    std::size_t offset = 0; // of the entry's first length field
    std::size_t span = 0;   // bytes of the image the entry takes, length fields included
    entry_kind kind = entry_kind::headless;
    // The payload length: the header's field + 1 for a file, the block length
    // for a headless block, the bytes left for a truncated entry.
    std::size_t length = 0;
    // Only meaningful for a file.
    std::uint8_t number = 0;
    std::uint8_t type = 0;
    std::uint16_t address = 0;
    std::array<std::uint8_t, name_width> name{};
    bool header_checksum_good = false;
    data_checksum_state data_checksum = data_checksum_state::absent;
    // Where the bytes `extract` gives back lie in the image: a file's data
    // block without its checksum byte, a headless block's body, a truncated
    // entry's every byte. Empty for a file without a data block.
    std::size_t payload_offset = 0;
    std::size_t payload_size = 0;
    std::string problem; // empty when the entry is sound
};

// The longest an entry can be: a header block and a data block of the
// largest length. A window holding this many bytes from an entry's start
// always holds the whole entry.
constexpr std::size_t longest_entry = 2 * block_length_size + header_body_size + 0xFFFF;

// Reads the one entry that begins at `at` of the `size` bytes at `image`
// (its `entry` number left 0 for the caller). With `more`, bytes beyond
// `size` may follow: an entry that might reach past them is not read and
// false comes back, so that the caller can give a longer window. False also
// at the end of the image.
bool next_tape_entry(const std::uint8_t* image, std::size_t size, std::size_t at, bool more,
                     tape_entry& entry);

// Walks the `size` bytes at `image` into its entries, in image order; they
// cover the image from its first byte to its last without gap or overlap.
std::vector<tape_entry> read_tape_image(const std::uint8_t* image, std::size_t size);

// Gives the next bytes of an image read from its start to its end: up to
// `room` of them at `into`, how many in `got` (0 at the end). False when
// they cannot be read.
using image_stream_reader =
    std::function<bool(std::uint8_t* into, std::size_t room, std::size_t& got)>;

// What a walk does with each entry: `window` holds the entry whole, its
// offsets counted from the window's first byte, which is byte `base` of the
// image. Returning false stops the walk.
using window_visitor =
    std::function<bool(const tape_entry& entry, const std::uint8_t* window, std::uint64_t base)>;

// Walks the image that `next` gives entry by entry, as read_tape_image groups
// and numbers them, through a window of a few hundred KiB, whatever the
// image's size and its number of entries: a file, a pipe or an image that
// exists only as a plan is walked without being held. False when a read
// failed; the walk ends there.
bool walk_image_window(const image_stream_reader& next, const window_visitor& visit);

// Whether a whole block of `length` bytes, whose body begins at `body`, is a
// header block: a header's length and the sync pattern. Only for a header's
// length is `body` read, sync_size bytes of it.
bool is_header_block(std::size_t length, const std::uint8_t* body);

// Sets the fields of `entry` that the file head at `head` gives (a header
// body past its sync pattern): the kind, number, type, address, payload
// length and name, and whether the head's checksum is good. The problem is
// the caller's to word.
void read_file_head(const std::uint8_t* head, tape_entry& entry);

// The kind as the listings spell it: "file", "headless", "truncated".
const char* entry_kind_name(entry_kind kind);

// The checksums of a file in a few words ("good", "data bad", "no data", ...);
// "-" for an entry without checksums.
const char* checksum_state_name(const tape_entry& entry);

inline bool entry_damaged(const tape_entry& entry)
{
    return !entry.problem.empty();
}

} // namespace cassmak::core
