// Open files as Windows handles: opened at a folder's path or a path,
// written and read at an offset (one call moves at most a DWORD's worth),
// cut, copied through a buffer, flushed and closed.
#include "io/handles_win32.h"

#include <algorithm>
#include <vector>

namespace cassmak::core {

namespace {

using namespace win32_seam;

// The most that one ReadFile or WriteFile is asked to move.
constexpr std::size_t largest_call = 0x40000000;

OVERLAPPED at_offset(std::uint64_t at)
{
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    return where;
}

} // namespace

namespace platform {

// The handle must allow the deletion that replacing the file is. Another
// run's rename holds the file for a moment; another program may hold it for
// good, and then the run gives up after a second. A missing file may be one
// that another run is replacing.
bool open_at(handle folder, const std::string& name, handle& file, bool& readable)
{
    const std::wstring path = path_at(folder, name);
    readable = true;
    DWORD error = ERROR_SUCCESS;
    for (int wait = 0; wait < 100; ++wait) {
        HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share_all,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened != INVALID_HANDLE_VALUE) {
            file = of(opened);
            return true;
        }
        error = GetLastError();
        const bool moment = error == ERROR_SHARING_VIOLATION ||
                            (error == ERROR_FILE_NOT_FOUND && !missing_for_good(path));
        if (!moment)
            break;
        Sleep(10);
    }
    return fail(error);
}

// A device, a console or a pipe opens as it is; a file on the disk that is
// replaced is cut to nothing, as O_TRUNC would.
bool open_for_writing(const std::string& path, bool append, handle& file)
{
    if (path.empty())
        return fail(ERROR_FILE_NOT_FOUND);
    HANDLE opened = CreateFileW(win32_text::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                share_all, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return fail(GetLastError());
    if (is_disk_file(opened)) {
        LARGE_INTEGER start{};
        const bool placed =
            SetFilePointerEx(opened, start, nullptr, append ? FILE_END : FILE_BEGIN) &&
            (append || SetEndOfFile(opened));
        if (!placed) {
            const DWORD error = GetLastError();
            CloseHandle(opened);
            return fail(error);
        }
    }
    file = of(opened);
    return true;
}

bool seek_start(handle file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(raw(file), start, nullptr, FILE_BEGIN) || fail(GetLastError());
}

bool position_of(handle file, std::uint64_t& at)
{
    LARGE_INTEGER none{};
    LARGE_INTEGER now{};
    if (!SetFilePointerEx(raw(file), none, &now, FILE_CURRENT))
        return fail(GetLastError());
    at = static_cast<std::uint64_t>(now.QuadPart);
    return true;
}

// A handle cannot be made to append once open: the position goes to the end
// now. Every change of a regular file here holds the lock, which Windows
// always gives, so no other run appends in between.
bool append_from_now(handle file)
{
    LARGE_INTEGER none{};
    return SetFilePointerEx(raw(file), none, nullptr, FILE_END) || fail(GetLastError());
}

bool write_at(handle file, const std::uint8_t* bytes, std::size_t count, std::int64_t at,
              std::size_t& done)
{
    done = 0;
    while (done < count) {
        const auto piece = static_cast<DWORD>(std::min(count - done, largest_call));
        DWORD put = 0;
        OVERLAPPED where = at_offset(static_cast<std::uint64_t>(at) + done);
        if (!WriteFile(raw(file), bytes + done, piece, &put, at < 0 ? nullptr : &where))
            return fail(GetLastError());
        if (put == 0)
            return fail(ERROR_DISK_FULL);
        done += put;
    }
    return true;
}

bool read_at(handle file, std::uint8_t* into, std::size_t count, std::uint64_t at)
{
    std::size_t got = 0;
    while (got < count) {
        const auto piece = static_cast<DWORD>(std::min(count - got, largest_call));
        DWORD part = 0;
        OVERLAPPED where = at_offset(at + got);
        if (!ReadFile(raw(file), into + got, piece, &part, &where))
            return fail(GetLastError());
        if (part == 0)
            return fail(ERROR_HANDLE_EOF);
        got += part;
    }
    return true;
}

bool truncate_to(handle file, std::uint64_t size)
{
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return (SetFilePointerEx(raw(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(raw(file))) ||
           fail(GetLastError());
}

// Windows has no copy between two open files within the system.
bool copy_range(handle from, std::uint64_t at, std::uint64_t count, handle to)
{
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, std::uint64_t{1} << 18)));
    for (std::uint64_t copied = 0; copied < count;) {
        const auto part =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), count - copied));
        std::size_t done = 0;
        if (!read_at(from, buffer.data(), part, at + copied) ||
            !write_at(to, buffer.data(), part, at_position, done))
            return false;
        copied += part;
    }
    return true;
}

std::size_t page_size()
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize > 0 ? info.dwPageSize : 4096;
}

// copy_range is a copy through a buffer here either way.
bool copies_unaligned_fast(handle)
{
    return true;
}

// A folder's names are in NTFS's journal, and a move is written through; a
// console, a pipe or a device keeps nothing (and a pipe's flush would wait
// for its reader).
bool sync_to_disk(handle file)
{
    if (is_folder_handle(file) || !is_disk_file(raw(file)))
        return true;
    return FlushFileBuffers(raw(file)) || fail(GetLastError());
}

// Windows starts writing a file's cache by itself, and FlushFileBuffers
// would wait.
void start_writing(handle) {}

bool facts_of(handle file, file_facts& facts)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(raw(file), &info))
        return fail(GetLastError());
    facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.links = info.nNumberOfLinks;
    facts.regular =
        is_disk_file(raw(file)) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    facts.volume = info.dwVolumeSerialNumber;
    facts.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool close_handle(handle file)
{
    if (forget_folder(file))
        return true;
    return CloseHandle(raw(file)) || fail(GetLastError());
}

} // namespace platform

} // namespace cassmak::core
