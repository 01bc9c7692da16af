// The limits of the seam's rules, owned here once: how often a change starts
// over and how much it copies before the disk starts writing. Portable;
// included by the seam's own files only. (How large an image may be is the
// tape's rule; update_output is given it.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace cassmak::core {

namespace write_policy {

// How often a write starts over because another run renamed a new image over
// the output, or made the file it was about to make, while this one waited
// (and how many fresh names a temporary file is tried under); every
// start-over needs such a run to have finished in between.
constexpr int max_attempts = 1000;

// How many kept bytes a change copies before it starts the disk writing
// them: the disk writes what is copied while the rest is copied, instead of
// all of it at the sync, or (not synced) at the rename, where ext4 starts
// writing a file that replaces another and the old file's freeing then waits
// on it.
constexpr std::uint64_t copy_step = std::uint64_t{8} << 20;

// The buffer through which a kept span is copied where its offsets in the
// old and the new file do not agree modulo the page size, on a file system
// where the system copies such a span slower than a read and a write of
// whole pages of the target through the process (ext4).
constexpr std::size_t copy_buffer = std::size_t{1} << 20;

} // namespace write_policy

} // namespace cassmak::core
