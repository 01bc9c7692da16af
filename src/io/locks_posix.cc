// The lock every writing run takes on a regular output, and on a new file
// while it is made, as flock gives it: held by the open file, which the
// system closes when the process ends however it ends.
#include "io/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

bool lock_new_file(handle file, handle& keeper)
{
    keeper = no_handle;
    if (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) != 0)
        return false;
    // A second descriptor of the same open file keeps its lock.
    const int kept = fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
    if (kept < 0)
        return false;
    keeper = kept;
    return true;
}

bool maker_gone(handle file)
{
    return flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0;
}

} // namespace platform

} // namespace cassmak::core
