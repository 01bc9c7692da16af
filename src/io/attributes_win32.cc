// A new file given the old one's attributes (hidden, system, archive, ...;
// not read-only, which the new file would refuse its own writing for).
// ReplaceFileW keeps the old file's security itself.
#include "io/handles_win32.h"

namespace cassmak::core {

namespace platform {

bool take_attributes(handle temp, handle old)
{
    FILE_BASIC_INFO was{};
    if (!GetFileInformationByHandleEx(win32_seam::raw(old), FileBasicInfo, &was, sizeof was))
        return win32_seam::fail(GetLastError());
    FILE_BASIC_INFO now{};
    now.FileAttributes = was.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (now.FileAttributes == 0)
        now.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(win32_seam::raw(temp), FileBasicInfo, &now, sizeof now) ||
           win32_seam::fail(GetLastError());
}

} // namespace platform

} // namespace cassmak::core
