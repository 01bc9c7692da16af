// casstool's words for a read or a write that failed, kept with the seam's
// outcomes so that the tools and the library say the same.
#pragma once

#include "io/files.h"

#include <string>
#include <string_view>

namespace cassmak::core {

// "PATH: cannot open: REASON", "PATH: cannot read: REASON", or for a file
// over its limit "PATH: " and `too_large`. Empty for a read.
std::string read_failure_message(const std::string& path, const read_result& result,
                                 std::string_view too_large);

// "PATH: cannot open for writing: REASON", or "PATH: cannot write: REASON"
// and, unless `streamed` bytes may have reached the output, "; nothing was
// left behind", or "PATH: written, but its folder could not be synced to the
// disk: REASON". Empty for a write.
std::string write_failure_message(const std::string& path, const write_result& result,
                                  bool streamed);

// "PATH: cannot be updated: REASON; it is left as it was", or for a new image
// in place whose folder could not be synced "PATH: changed, but its folder
// could not be synced to the disk: REASON".
std::string update_failure_message(const std::string& path, const write_result& result);

} // namespace cassmak::core
