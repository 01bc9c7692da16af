// Why a primitive failed: the system's error, counted as errno counts it,
// and its words as the C library gives them.
#include "io/handles_win32.h"

#include <cerrno>
#include <cstring>

namespace cassmak::core {

namespace win32_seam {

namespace {

thread_local int fault_now = 0;

int fault_for(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    default: break;
    }
    return EIO;
}

} // namespace

std::string reason_for(DWORD error)
{
    const int fault = fault_for(error);
    return std::strerror(fault == EEXIST ? EIO : fault);
}

bool fail(DWORD error)
{
    fault_now = fault_for(error);
    return false;
}

} // namespace win32_seam

namespace platform {

int last_fault()
{
    return win32_seam::fault_now;
}

// Only these of the system's errors have words of their own here; a name
// found taken is only ever worded where a new file was refused.
std::string fault_words(int fault)
{
    switch (fault) {
    case ENOENT:
    case EACCES:
    case EFBIG:
    case EEXIST: return std::strerror(fault);
    default: break;
    }
    return std::strerror(EIO);
}

// A disk without room fails the new file; the old one is not rewritten in
// its own room instead.
bool out_of_room(int)
{
    return false;
}

} // namespace platform

} // namespace cassmak::core
