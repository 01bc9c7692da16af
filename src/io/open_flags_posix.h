// The flags every open of the POSIX seam takes: no terminal becomes the
// process's own, and no program it runs inherits the file.
#pragma once

#include <fcntl.h>

namespace cassmak::core {

namespace platform {

constexpr int open_flags = O_NOCTTY | O_CLOEXEC;

} // namespace platform

} // namespace cassmak::core
