// A new image described as the pieces it is made of: spans of an old image,
// read through a reader, and new bytes. What a change plans and what the seam
// writes meet here, so that neither the tape format nor the file system needs
// the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace cassmak::core {

// Reads `count` bytes from offset `at` of an image; false when they cannot
// be read.
using image_bytes_reader =
    std::function<bool(std::uint64_t at, std::uint8_t* into, std::size_t count)>;

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

} // namespace cassmak::core
