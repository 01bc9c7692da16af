// The lock every writing run takes on a regular output: an exclusive lock on
// one byte far beyond any image, so that readers of the image are never
// blocked by it (Windows locks are mandatory). Closing the handle frees it.
#include "io/handles_win32.h"

namespace cassmak::core {

namespace platform {

bool lock_file(handle file)
{
    OVERLAPPED where{};
    where.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(win32_seam::raw(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) ||
           win32_seam::fail(GetLastError());
}

// A new file is renamed here by its name, which a handle held open to keep
// a lock would refuse: nothing tells that its maker is gone.
bool lock_new_file(handle, handle& keeper)
{
    keeper = no_handle;
    return false;
}

bool maker_gone(handle)
{
    return false;
}

} // namespace platform

} // namespace cassmak::core
