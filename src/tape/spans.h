// An image edited where it lies, in a file: its entries found from their
// length fields and headers alone, and a new image described as the pieces
// it is made of (spans of the old image and new bytes), so that the bytes an
// edit keeps never pass through memory and what it holds does not grow with
// the number of entries.
#pragma once

#include "tape/reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Reads `count` bytes from offset `at` of an image; false when they cannot
// be read.
using image_bytes_reader =
    std::function<bool(std::uint64_t at, std::uint8_t* into, std::size_t count)>;

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

// One piece of a new image: `count` bytes at `bytes`, or, where that is
// null, `count` bytes from offset `from` of the old image.
struct plan_piece {
    const std::uint8_t* bytes = nullptr;
    std::uint64_t from = 0;
    std::uint64_t count = 0;
};

// Adds a span of the old image to the end of `plan`, joined to the last
// piece where the two meet, so that a plan of whole runs of kept entries has
// a piece per run, not per entry.
void add_old_span(std::vector<plan_piece>& plan, std::uint64_t from, std::uint64_t count);

// The bytes of `plan`, the old image read through `read`; false when a read
// failed.
bool assemble_plan(const std::vector<plan_piece>& plan, const image_bytes_reader& read,
                   std::vector<std::uint8_t>& out);

// The bytes of `plan` made over the old image `bytes` itself, where every
// span only moves towards the front and no piece overwrites what a later
// one takes (a removal, a header rewritten): no second copy of the image.
// False, `bytes` untouched, for a plan that cannot be made so.
bool assemble_plan_in_place(const std::vector<plan_piece>& plan, std::vector<std::uint8_t>& bytes);

// The number of bytes `plan` makes.
std::uint64_t plan_size(const std::vector<plan_piece>& plan);

// A reader of the image that `plan` makes, the old image read through `old`
// (both must outlive it), so that the new image can be walked as any other
// without being made.
image_bytes_reader plan_reader(const std::vector<plan_piece>& plan, const image_bytes_reader& old);

// A reader of the `size` bytes at `bytes`.
image_bytes_reader memory_reader(const std::uint8_t* bytes, std::size_t size);
