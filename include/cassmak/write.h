// Writing a tape safely, as both tools write: a file is replaced whole
// (renamed over, keeping its permissions, owner and attributes) or left as
// it was, never torn; a change is made under the exclusive lock that
// `cassmak -append` takes, so that an append running meanwhile is not lost.
#pragma once

#include "cassmak/export.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cassmak {

enum class write_outcome {
    written,
    open_failed,   // the output could not be opened or created
    access_failed, // a replaced output could not be positioned (a pipe or terminal)
    write_failed,  // fewer bytes than asked could be written; nothing torn is left
    unsynced,      // the new image is in place, but its folder could not be synced: a
                   // power cut may still bring the old one back
    declined,      // update_output only: the transform refused; the file is untouched
    read_failed,   // update_output only: the old image could not be read
};

// `status` 0 written, 2 not (casstool's exit status); `reason` the system's
// words; `message` casstool's ("PATH: cannot open for writing: REASON").
struct write_result {
    int status = 0;
    write_outcome outcome = write_outcome::written;
    std::string reason;
    std::string message;
};

// Every write here is on the disk before it returns, as the tools' are: the
// new file's data is synced before it is renamed into place and its folder
// after; `durable = false` skips the syncs (casstool's --no-sync).
//
// In a host with threads: no call changes a signal disposition, another
// thread's mask or a console handler, and calls in several threads at once
// take turns under each image's lock. The process may end at any instant of
// a call (a signal another thread takes, SIGKILL): a file is replaced only
// by a rename, and one that must be changed where it lies only after a
// synced copy of it was made beside it (".NAME.rollback"; a call fails with
// write_failed, the file untouched, where none can be made). The next change
// of the image through the same path, under the lock, writes such a copy
// back and removes the hidden new files (".NAME.XXXXXX") of makers that are
// gone, so that the image is old or new whole and nothing is left beside it.

// Writes `size` bytes to `path`, replacing it, or with `append` adding them
// to its end under the lock, as `cassmak -o PATH [-append]` writes.
CASSMAK_API write_result write_output(const std::string& path, const std::uint8_t* bytes,
                                      std::size_t size, bool append = false, bool durable = true);

// Turns the old image into the new one; false leaves the file as it was.
// `existed` is false for a file that is not there yet. It may be called
// again with the image another run wrote meanwhile; only the last call
// counts. An exception it throws leaves the file as it was (declined).
using image_transform = std::function<bool(const std::vector<std::uint8_t>& old, bool existed,
                                           std::vector<std::uint8_t>& updated)>;

// Changes the regular file at `path` as a whole under the lock, as casstool's
// changing commands do: reads it, calls `transform` and replaces it with the
// result. With `create`, a missing file is made. The message of a failure is
// casstool's: "PATH: cannot be updated: REASON; it is left as it was".
CASSMAK_API write_result update_output(const std::string& path, bool create,
                                       const image_transform& transform, bool durable = true);

// Replaces (or makes) the tape at `path` with `image` through update_output.
CASSMAK_API write_result save_tape(const std::string& path, const std::vector<std::uint8_t>& image,
                                   bool durable = true);

} // namespace cassmak
