// What the Windows seam's files share: a handle as the system's, the last
// fault set from the system's error, the path of a name in a folder held
// open, and the questions that need a handle or a path.
#pragma once

#include "io/platform.h"
#include "io/text_win32.h"

#include <windows.h>

#include <string>

namespace cassmak::core {

namespace win32_seam {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline HANDLE raw(platform::handle file)
{
    return reinterpret_cast<HANDLE>(file);
}

inline platform::handle of(HANDLE file)
{
    return reinterpret_cast<platform::handle>(file);
}

// The system's words for `error`, as the C library gives them.
std::string reason_for(DWORD error);

// Sets the last fault from the system's `error`; false, for a primitive to
// return.
bool fail(DWORD error);

bool is_disk_file(HANDLE file);
bool is_folder(const std::wstring& path);

// The path as the system resolves it from the current folder.
std::wstring full_path(const std::wstring& path);

// The path of `name` in the folder `folder` that open_folder gave.
std::wstring path_at(platform::handle folder, const std::string& name);

// Whether `file` is a folder of open_folder's; forget_folder, which
// close_handle calls, forgets it.
bool is_folder_handle(platform::handle file);
bool forget_folder(platform::handle file);

// Whether the path is missing because another run is between the two
// renames of its replace (the old file stands aside then).
bool replace_under_way(const std::wstring& path);

// Whether a path that did not open is missing for good, not only between
// the two renames of another run's replace.
bool missing_for_good(const std::wstring& path);

// The ending of the name the old file has between the two renames of a
// replace: `.NAME.XXXXXX.old`.
constexpr const wchar_t* aside_ending = L".old";

} // namespace win32_seam

} // namespace cassmak::core
