// The lock every writing run takes on a regular output, as flock gives it.
#include "io/platform.h"

#include <cerrno>
#include <sys/file.h>

namespace cassmak::core {

namespace platform {

bool lock_file(handle file)
{
    for (;;) {
        if (flock(static_cast<int>(file), LOCK_EX) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace platform

} // namespace cassmak::core
