// An image edited where it lies, in a file: its entries found from their
// length fields and headers alone, and a new image described as the pieces
// it is made of (spans of the old image and new bytes), so that the bytes an
// edit keeps never pass through memory and what it holds does not grow with
// the number of entries.
#pragma once

#include "plan/plan.h"
#include "tape/reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace cassmak::core {

// Where an entry lies and what it is, as the reader groups it.
struct entry_bounds {
    std::uint64_t offset = 0;
    std::uint64_t span = 0;
    entry_kind kind = entry_kind::headless;
    bool open = false; // a truncated tail, or a file without its data block
};

// Walks the image of `size` bytes read through `read` entry by entry, as
// read_tape_image groups it, reading only the length fields and the sync
// patterns, and calls `visit` with each entry's 0-based index; `visit`
// returning false stops the walk. False when a read failed.
bool walk_entry_bounds(std::uint64_t size, const image_bytes_reader& read,
                       const std::function<bool(std::size_t, const entry_bounds&)>& visit);

// The number of entries, or false when a read failed.
bool count_entries(std::uint64_t size, const image_bytes_reader& read, std::size_t& count);

// Reads the entry at `bounds` whole into `window` and sets `entry` (number
// `index` + 1) with its offsets counted from the window's start; false when
// a read failed.
bool read_entry(const image_bytes_reader& read, const entry_bounds& bounds, std::size_t index,
                std::vector<std::uint8_t>& window, tape_entry& entry);

// What describes the entry at `bounds` (number `index` + 1) without its
// data: the kind, the length, and for a file the header's fields and
// whether its checksum is good; the rest of `entry` is left empty. Reads a
// header block at most; false when that read failed.
bool read_entry_head(const image_bytes_reader& read, const entry_bounds& bounds, std::size_t index,
                     tape_entry& entry);

} // namespace cassmak::core
