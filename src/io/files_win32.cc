// The Windows seam's reads, streams, terminals and the questions about a
// path; its writes are the portable ones over the primitives of the
// *_win32.cc files beside it. Paths are UTF-8 and reach the system through
// its wide functions.
#include "io/files.h"
#include "io/handles_win32.h"
#include "io/platform.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace cassmak::core {

namespace {

using win32_seam::is_disk_file;
using win32_seam::is_folder;
using win32_seam::reason_for;
using win32_seam::share_all;
using win32_text::wide;

class handle {
  public:
    explicit handle(HANDLE raw = INVALID_HANDLE_VALUE) : raw_(raw) {}
    ~handle()
    {
        reset();
    }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    void reset(HANDLE raw = INVALID_HANDLE_VALUE)
    {
        if (raw_ != INVALID_HANDLE_VALUE)
            CloseHandle(raw_);
        raw_ = raw;
    }
    HANDLE get() const
    {
        return raw_;
    }
    bool ok() const
    {
        return raw_ != INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE raw_;
};

HANDLE open_path(const std::wstring& path, DWORD access, DWORD disposition)
{
    return CreateFileW(path.c_str(), access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

} // namespace

std::FILE* open_input_file(const std::string& path)
{
    const std::wstring wpath = wide(path);
    if (path.empty() || is_folder(wpath))
        return nullptr;
    return _wfopen(wpath.c_str(), L"rb");
}

// ---- The primitives of reading a whole file (reads.cc) ----

namespace platform {

namespace {

HANDLE handle_of(const reading& file)
{
    return reinterpret_cast<HANDLE>(file.handle);
}

} // namespace

read_result open_reading(const std::string& path, reading& file)
{
    HANDLE raw = INVALID_HANDLE_VALUE;
    if (path == "-") {
        HANDLE process = GetCurrentProcess();
        if (!DuplicateHandle(process, GetStdHandle(STD_INPUT_HANDLE), process, &raw, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            return {read_outcome::open_failed, reason_for(GetLastError())};
    } else {
        const std::wstring wpath = wide(path);
        // A folder opens on POSIX and fails when read; here it does not open
        // (access denied), so it is asked about first to fail the same way.
        if (!path.empty() && is_folder(wpath))
            return {read_outcome::read_failed, std::strerror(EISDIR)};
        if (!path.empty())
            raw = open_path(wpath, GENERIC_READ, OPEN_EXISTING);
        if (raw == INVALID_HANDLE_VALUE)
            return {read_outcome::open_failed,
                    reason_for(path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError())};
    }
    file.handle = reinterpret_cast<std::intptr_t>(raw);
    file.open = true;
    return {};
}

bool regular_size(const reading& file, std::uint64_t& size)
{
    LARGE_INTEGER length{};
    if (!is_disk_file(handle_of(file)) || !GetFileSizeEx(handle_of(file), &length))
        return false;
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

read_result read_some(const reading& file, std::uint8_t* into, std::size_t room, std::size_t& got)
{
    got = 0;
    DWORD done = 0;
    if (!ReadFile(handle_of(file), into, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room),
                  &done, nullptr)) {
        // The writer of a pipe closed it: its end.
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
            return {};
        return {read_outcome::read_failed, reason_for(error)};
    }
    got = done;
    return {};
}

void close_reading(reading& file)
{
    if (file.open)
        CloseHandle(handle_of(file));
    file = reading{};
}

} // namespace platform

bool is_terminal(console_stream stream)
{
    switch (stream) {
    case console_stream::input: return _isatty(_fileno(stdin)) != 0;
    case console_stream::output: return _isatty(_fileno(stdout)) != 0;
    case console_stream::error: break;
    }
    return _isatty(_fileno(stderr)) != 0;
}

void use_binary_streams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

path_kind look_at_path(const std::string& path, std::string& reason)
{
    const std::wstring wpath = wide(path);
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME)
            return path_kind::missing;
        reason = reason_for(error);
        return path_kind::other;
    }
    // Other reparse points (a cloud file's placeholder, a deduplicated file)
    // are what they hold; only a symbolic link or a junction leads elsewhere.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        handle file(CreateFileW(wpath.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (file.ok() &&
            GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
             tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT))
            return path_kind::link;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? path_kind::folder : path_kind::file;
}

bool names_same_file(const std::string& a, const std::string& b)
{
    // A folder opens only with backup semantics; both are compared by the
    // file index of their volume, as a path is no identity on Windows.
    const auto open_named = [](const std::string& path) {
        return CreateFileW(wide(path).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    handle first(open_named(a));
    handle second(open_named(b));
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION other{};
    return first.ok() && second.ok() && is_disk_file(first.get()) && is_disk_file(second.get()) &&
           GetFileInformationByHandle(first.get(), &one) &&
           GetFileInformationByHandle(second.get(), &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

} // namespace cassmak::core
