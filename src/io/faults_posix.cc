// Why a primitive failed, as errno tells it.
#include "io/platform.h"

#include <cerrno>
#include <cstring>

namespace cassmak::core {

namespace platform {

int last_fault()
{
    return errno;
}

std::string fault_words(int fault)
{
    return std::strerror(fault);
}

bool out_of_room(int fault)
{
    return fault == ENOSPC || fault == EDQUOT;
}

} // namespace platform

} // namespace cassmak::core
