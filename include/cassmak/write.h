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

// Writes `size` bytes to `path`, replacing it, or with `append` adding them
// to its end under the lock, as `cassmak -o PATH [-append]` writes.
CASSMAK_API write_result write_output(const std::string& path, const std::uint8_t* bytes,
                                      std::size_t size, bool append = false);

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
                                       const image_transform& transform);

// Replaces (or makes) the tape at `path` with `image` through update_output.
CASSMAK_API write_result save_tape(const std::string& path, const std::vector<std::uint8_t>& image);

} // namespace cassmak
