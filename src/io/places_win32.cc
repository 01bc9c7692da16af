// Where a file is on Windows: the path made whole once (a bare name gives
// ReplaceFileW no folder), its folder held as that path, and whether a name
// still names an open file, by the file index of its volume.
#include "io/handles_win32.h"

#include <map>
#include <mutex>

namespace cassmak::core {

namespace win32_seam {

namespace {

// The folders open_folder gave, by their handles: odd numbers, which no
// handle of the system is.
std::map<platform::handle, std::wstring>& folders()
{
    static std::map<platform::handle, std::wstring> held;
    return held;
}

platform::handle next_folder = 0x40000001;

// Library calls in several threads open and close folders at once.
std::mutex folders_in_use;

} // namespace

bool is_disk_file(HANDLE file)
{
    return GetFileType(file) == FILE_TYPE_DISK;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring full_path(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring out(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
    if (length == 0 || length >= size)
        return path;
    out.resize(length);
    return out;
}

std::wstring path_at(platform::handle folder, const std::string& name)
{
    const std::lock_guard<std::mutex> hold(folders_in_use);
    const auto found = folders().find(folder);
    return (found == folders().end() ? std::wstring() : found->second) + win32_text::wide(name);
}

bool is_folder_handle(platform::handle file)
{
    const std::lock_guard<std::mutex> hold(folders_in_use);
    return folders().count(file) > 0;
}

bool forget_folder(platform::handle file)
{
    const std::lock_guard<std::mutex> hold(folders_in_use);
    return folders().erase(file) > 0;
}

bool replace_under_way(const std::wstring& path)
{
    const std::wstring whole = full_path(path);
    const std::size_t cut = whole.find_last_of(L"/\\:");
    const std::wstring folder = cut == std::wstring::npos ? L"" : whole.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? whole : whole.substr(cut + 1);
    const std::wstring mask = folder + L"." + name + L".??????" + aside_ending;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(mask.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// That run removes its name aside only once the new file stands at the path,
// so a path found missing, then no name aside, then the path missing again,
// is missing.
bool missing_for_good(const std::wstring& path)
{
    if (replace_under_way(path))
        return false;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    return !replace_under_way(path);
}

} // namespace win32_seam

namespace platform {

using namespace win32_seam;

// Windows follows no link of a path here; the path is made whole, so that a
// drive's own current folder ("C:tape.kst") is resolved once.
std::string final_name(const std::string& path)
{
    if (path.empty())
        return path;
    const std::wstring whole = full_path(win32_text::wide(path));
    return win32_text::narrow(whole.c_str());
}

namespace {

// A console, a pipe or a device opens as a file that is not on a disk.
path_state state_now(const std::wstring& wpath)
{
    HANDLE file = CreateFileW(wpath.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const bool disk = is_disk_file(file);
        CloseHandle(file);
        if (!disk)
            return path_state::other;
    }
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME)
            return path_state::missing;
        fail(error);
        return path_state::failed;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? path_state::folder : path_state::regular;
}

} // namespace

// A file missing only while another run replaces it is waited for, a moment.
path_state state_of(const std::string& path)
{
    if (path.empty())
        return path_state::missing;
    const std::wstring wpath = win32_text::wide(path);
    path_state state = state_now(wpath);
    for (int wait = 0; wait < 100 && state == path_state::missing && !missing_for_good(wpath);
         ++wait) {
        Sleep(10);
        state = state_now(wpath);
    }
    return state;
}

bool open_folder(const std::string& folder, handle& opened)
{
    std::wstring path = full_path(folder.empty() ? L"." : win32_text::wide(folder));
    if (!is_folder(path))
        return fail(ERROR_PATH_NOT_FOUND);
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    const std::lock_guard<std::mutex> hold(folders_in_use);
    opened = next_folder;
    next_folder += 2;
    folders()[opened] = std::move(path);
    return true;
}

bool names_beginning(handle folder, const std::string& prefix, std::vector<std::string>& names)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((path_at(folder, prefix) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || fail(error);
    }
    do
        names.push_back(win32_text::narrow(found.cFileName));
    while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// Not while another run replaces the file: it is there again in a moment.
bool name_missing(handle folder, const std::string& name)
{
    const std::wstring path = path_at(folder, name);
    for (int wait = 0; wait < 100; ++wait) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
            GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        if (missing_for_good(path))
            return true;
        Sleep(10);
    }
    return false;
}

bool still_named(handle file, handle folder, const std::string& name, file_facts& facts)
{
    if (!facts_of(file, facts))
        return false;
    HANDLE other = CreateFileW(path_at(folder, name).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return fail(GetLastError());
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    const bool same = GetFileInformationByHandle(raw(file), &a) &&
                      GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

} // namespace platform

} // namespace cassmak::core
