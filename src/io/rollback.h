// What a change cut short leaves beside an image, and how the next change
// under the image's lock clears it: the copy that a change in place wrote of
// what it overwrites (written back, then removed), and the new files of
// changes whose maker is gone (removed). Portable; included by the seam's
// own files only.
#pragma once

#include "io/write_steps.h"

#include <cstdint>

namespace cassmak::core {

namespace rollback {

using platform::handle;
using write_steps::place;

// Whether `name` is one of the new files made beside `image` (a hidden
// unique name, write_steps::temp_stem and six letters or digits).
bool is_new_file_of(const std::string& name, const std::string& image);

// Under the lock on `file`, which `where` names and whose facts are `facts`:
// writes back and removes a copy that a change cut short left, then removes
// the new files left by makers that are gone. `facts` are the file's after.
// False, with the system's fault in `error`, when a copy could not be
// written back; it then stays for the next change.
bool clear_leftovers(handle file, const place& where, platform::file_facts& facts, int& error);

// Writes the copy of the file open on `file` (whose facts are `facts`) that
// a change in place needs before it overwrites anything: its size, and its
// first `keep` bytes, copied within the system. Those are synced before the
// copy's head is written, which makes it whole, and that is synced where the
// change is durable. False, with the system's fault in `error`, when none
// could be made; nothing is left.
bool make_copy(handle file, const place& where, const platform::file_facts& facts,
               std::uint64_t keep, int& error);

// Removes the copy once the file is whole again, new or old; false when the
// folder could not be synced after (a power cut may bring the copy back,
// and with it the old image).
bool drop_copy(const place& where);

} // namespace rollback

} // namespace cassmak::core
