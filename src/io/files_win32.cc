// The seam on Windows. Paths are UTF-8 and reach the system through its wide
// functions; a regular file is only ever changed by writing a new file in
// its folder and putting it in the old one's place, so that a failure or an
// interrupted run leaves the old image. An append takes an exclusive lock on
// one byte far beyond any image, so that readers of the image are never
// blocked by it (Windows locks are mandatory).
#include "io/files.h"
#include "io/platform.h"
#include "io/text_win32.h"
#include "io/write_policy.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <new>
#include <optional>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

using write_policy::largest_update;
using write_policy::max_attempts;

// The largest old image a change holds whole in memory here (an append and a
// rewrite in place keep it, and ReadFile counts in a DWORD); an update is
// held to largest_update first.
constexpr LONGLONG largest_held_image = 0x7FFFFFFF;
constexpr DWORD lock_offset_high = 0x7FFFFFFF;

using win32_text::wide;

// The system's words for the last failure, as the C library gives them.
std::string reason_for(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return std::strerror(ENOENT);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return std::strerror(EACCES);
    case ERROR_FILE_TOO_LARGE: return std::strerror(EFBIG);
    default: break;
    }
    return std::strerror(EIO);
}

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

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_path(const std::wstring& path, DWORD access, DWORD disposition)
{
    return CreateFileW(path.c_str(), access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool write_all(HANDLE file, const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0) {
        const DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD done = 0;
        if (!WriteFile(file, bytes, piece, &done, nullptr) || done == 0)
            return false;
        bytes += done;
        count -= done;
    }
    return true;
}

bool read_all(HANDLE file, std::vector<std::uint8_t>& contents)
{
    LARGE_INTEGER size{};
    LARGE_INTEGER start{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > largest_held_image ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    contents.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < contents.size()) {
        DWORD done = 0;
        if (!ReadFile(file, contents.data() + got, static_cast<DWORD>(contents.size() - got), &done,
                      nullptr))
            return false;
        if (done == 0)
            break;
        got += done;
    }
    return got == contents.size();
}

// ---- Ctrl-C, Ctrl-Break and closing the console, held over a change ----

volatile LONG held_event = -1;
HANDLE section_done = nullptr;

BOOL WINAPI hold_console_event(DWORD event)
{
    InterlockedCompareExchange(&held_event, static_cast<LONG>(event), -1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // The system ends the process once this returns; let the change finish.
    if (section_done)
        WaitForSingleObject(section_done, 5000);
    return FALSE;
}

class console_events_held {
  public:
    console_events_held()
    {
        section_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(hold_console_event, TRUE);
    }
    ~console_events_held()
    {
        SetConsoleCtrlHandler(hold_console_event, FALSE);
        if (section_done)
            SetEvent(section_done);
        // A held Ctrl-C ends the run now, as it would have without the hold.
        if (held_event == CTRL_C_EVENT || held_event == CTRL_BREAK_EVENT)
            ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    console_events_held(const console_events_held&) = delete;
    console_events_held& operator=(const console_events_held&) = delete;
};

// ---- The new file beside the old one ----

struct path_parts {
    std::wstring folder; // with its separator, or empty for the current folder
    std::wstring name;
};

path_parts split_path(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L"/\\:");
    if (cut == std::wstring::npos)
        return {L"", path};
    return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

// The path as the system resolves it from the current folder. ReplaceFileW
// needs the folder of the file it replaces, which a bare name does not give
// (Wine then fails with "path not found").
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

// A name beside `target` that no file has: `.NAME.XXXXXX` and the ending.
std::wstring unused_name(const std::wstring& target, const wchar_t* ending = L"")
{
    const path_parts where = split_path(target);
    static unsigned counter = 0;
    std::wstring name;
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        const unsigned long long seed =
            GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
            (++counter * 0x9E3779B97F4A7C15ULL);
        std::wstring suffix;
        unsigned long long value = seed;
        for (int i = 0; i < 6; ++i, value /= 36)
            suffix += L"0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        name = where.folder + L"." + where.name + L"." + suffix + ending;
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
    }
    return name;
}

// Creates `.NAME.XXXXXX` beside the output, never an existing file.
HANDLE create_temp(const std::wstring& target, DWORD attributes, std::wstring& temp_path)
{
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        temp_path = unused_name(target);
        HANDLE file =
            CreateFileW(temp_path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share_all,
                        nullptr, CREATE_NEW, attributes & ~FILE_ATTRIBUTE_READONLY, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The ending of the name the old file has between the two renames of a
// replace: `.NAME.XXXXXX.old`.
constexpr const wchar_t* aside_ending = L".old";

// Whether the path is missing because another run is between the two
// renames of its replace: the old file then stands aside under its name of
// `.NAME.XXXXXX.old`. One left by a run that was ended there is old, and a
// run waits only a moment for it.
bool replace_under_way(const std::wstring& path)
{
    const path_parts where = split_path(full_path(path));
    const std::wstring mask = where.folder + L"." + where.name + L".??????" + aside_ending;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(mask.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// Whether a path that did not open is missing for good, not only between
// the two renames of another run's replace. That run removes its name aside
// only once the new file stands at the path, so a path found missing, then
// no name aside, then the path missing again, is missing.
bool missing_for_good(const std::wstring& path)
{
    if (replace_under_way(path))
        return false;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    return !replace_under_way(path);
}

// Puts the new file in the old one's place, keeping the old one's attributes.
// The file being replaced is open (this run holds its lock on it, and runs
// waiting for the lock hold it too), and a file that is open cannot be
// renamed over; ReplaceFileW can, by first moving the old file aside. It
// moves it to a name of our own beside it, removed once the new file stands
// at the path, so that a run ended between its two renames leaves the old
// image there, not nowhere. MoveFileExW serves a file that does not exist
// yet. Another program that holds the old file open without sharing its
// deletion refuses the replace, for a moment or for good: a few short
// waits, then false.
bool put_in_place(const std::wstring& temp_path, const std::wstring& target, bool existed)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (existed) {
            const std::wstring aside = unused_name(target, aside_ending);
            if (ReplaceFileW(target.c_str(), temp_path.c_str(), aside.c_str(),
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
                DeleteFileW(aside.c_str());
                return true;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
                // The old file was moved aside and the new one could not
                // take its place: the old one goes back.
                MoveFileExW(aside.c_str(), target.c_str(), 0);
                SetLastError(error);
                return false;
            }
            if (error == ERROR_FILE_NOT_FOUND)
                existed = false;
        }
        if (!existed && MoveFileExW(temp_path.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return false; // another run made the file meanwhile: its lock decides
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
            error != ERROR_LOCK_VIOLATION && error != ERROR_UNABLE_TO_REMOVE_REPLACED)
            return false;
        Sleep(50);
    }
    return false;
}

// Writes `parts` into a new file beside `target` and puts it in its place.
// Durable, the new file's data is flushed to the disk (FlushFileBuffers)
// before it takes the old one's place, and the move is written through.
write_outcome replace_with(const std::wstring& path, bool existed, DWORD attributes, bool durable,
                           std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> parts)
{
    const std::wstring target = full_path(path);
    std::wstring temp_path;
    handle temp(create_temp(target, attributes, temp_path));
    if (!temp.ok())
        return write_outcome::open_failed;
    bool good = true;
    for (const auto& part : parts)
        good = good && write_all(temp.get(), part.first, part.second);
    good = good && (!durable || FlushFileBuffers(temp.get()));
    const DWORD error = GetLastError();
    temp.reset();
    if (!good) {
        DeleteFileW(temp_path.c_str());
        SetLastError(error);
        return write_outcome::write_failed;
    }
    if (!put_in_place(temp_path, target, existed)) {
        const DWORD refused = GetLastError();
        DeleteFileW(temp_path.c_str());
        SetLastError(refused);
        return write_outcome::open_failed;
    }
    return write_outcome::written;
}

// The identity of an open file, to tell whether the path still names it.
bool same_file(HANDLE file, const std::wstring& path)
{
    handle other(open_path(path, 0, OPEN_EXISTING));
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return other.ok() && GetFileInformationByHandle(file, &a) &&
           GetFileInformationByHandle(other.get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

DWORD link_count(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(file, &info) ? info.nNumberOfLinks : 1;
}

// A file with several names keeps them only when it is written in place:
// the new bytes, and the old ones back if that fails.
write_outcome rewrite_in_place(HANDLE file, const std::vector<std::uint8_t>& old,
                               const std::uint8_t* bytes, std::size_t count, bool append,
                               bool durable)
{
    LARGE_INTEGER at{};
    at.QuadPart = append ? static_cast<LONGLONG>(old.size()) : 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return write_outcome::access_failed;
    if (write_all(file, bytes, count) && SetEndOfFile(file) && (!durable || FlushFileBuffers(file)))
        return write_outcome::written;
    LARGE_INTEGER start{};
    if (!append && SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        write_all(file, old.data(), old.size());
    at.QuadPart = static_cast<LONGLONG>(old.size());
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        SetEndOfFile(file);
    return write_outcome::write_failed;
}

// Under the lock that every change of a regular file takes, on the file
// opened at `path`: calls `work` with its old image once the path is known to
// still name it; nothing when another run replaced it meanwhile. Ctrl-C and
// Ctrl-Break end a run that waits for the lock at once, having changed
// nothing; once the lock is held they wait until the change is complete.
template <typename Work>
std::optional<write_outcome> under_lock(HANDLE file, const std::wstring& path, const Work& work)
{
    OVERLAPPED where{};
    where.OffsetHigh = lock_offset_high;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where))
        return write_outcome::open_failed;
    std::optional<write_outcome> outcome;
    {
        const console_events_held hold;
        if (same_file(file, path)) {
            std::vector<std::uint8_t> old;
            outcome = read_all(file, old) ? work(old) : write_outcome::read_failed;
        }
        const DWORD error = GetLastError();
        UnlockFileEx(file, 0, 1, 0, &where);
        SetLastError(error);
    }
    return outcome;
}

bool is_disk_file(HANDLE file)
{
    return GetFileType(file) == FILE_TYPE_DISK;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A console, a pipe or a device: written as it is. A replaced one must be
// positionable (NUL is; a console or a pipe is not).
write_outcome write_device(HANDLE file, const std::uint8_t* bytes, std::size_t count, bool append)
{
    LARGE_INTEGER start{};
    if (!append && !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return write_outcome::access_failed;
    return write_all(file, bytes, count) ? write_outcome::written : write_outcome::write_failed;
}

// What a change does with a file that is not on a disk: nothing (an update
// refuses it), or write the bytes as they are.
struct device_write {
    bool allowed = false;
    bool append = false;
    const std::uint8_t* bytes = nullptr;
    std::size_t count = 0;
};

// One try at changing the regular file at `path` under the lock; nothing
// when the file changed under it and the caller should look again.
template <typename Change>
std::optional<write_outcome> change_once(const std::wstring& wpath, bool create,
                                         const Change& change, const device_write& device)
{
    if (is_folder(wpath))
        return write_outcome::open_failed;
    // The lock's handle must allow the deletion that replacing the file is.
    constexpr DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    handle file;
    DWORD error = ERROR_SUCCESS;
    for (int wait = 0; wait < 100; ++wait) {
        file.reset(open_path(wpath, access, OPEN_EXISTING));
        error = file.ok() ? ERROR_SUCCESS : GetLastError();
        // Another run's rename holds the file for a moment; another program
        // may hold it for good, and then the run gives up after a second.
        // A missing file may be one that another run is replacing.
        const bool moment = error == ERROR_SHARING_VIOLATION ||
                            (error == ERROR_FILE_NOT_FOUND && !missing_for_good(wpath));
        if (!moment)
            break;
        Sleep(10);
    }
    const bool existed = file.ok();
    if (!file.ok() && create && error == ERROR_FILE_NOT_FOUND) {
        file.reset(open_path(wpath, access, CREATE_NEW));
        if (!file.ok())
            return GetLastError() == ERROR_FILE_EXISTS ? std::nullopt
                                                       : std::optional(write_outcome::open_failed);
    }
    if (!file.ok() && device.allowed) {
        // A device need not allow deletion.
        file.reset(open_path(wpath, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING));
        if (file.ok() && is_disk_file(file.get())) {
            SetLastError(error);
            return write_outcome::open_failed;
        }
    }
    if (!file.ok())
        return write_outcome::open_failed;
    if (!is_disk_file(file.get())) {
        if (!device.allowed)
            return write_outcome::open_failed;
        return write_device(file.get(), device.bytes, device.count, device.append);
    }
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    return under_lock(file.get(), wpath, [&](const std::vector<std::uint8_t>& old) {
        const write_outcome outcome = change(file.get(), old, existed, attributes);
        if (!existed && outcome != write_outcome::written) {
            // The file made for the change goes again, while the lock still
            // keeps other runs from writing into it.
            const DWORD failure = GetLastError();
            FILE_DISPOSITION_INFO gone{TRUE};
            SetFileInformationByHandle(file.get(), FileDispositionInfo, &gone, sizeof gone);
            SetLastError(failure);
        }
        return outcome;
    });
}

template <typename Change>
write_outcome change_file(const std::wstring& wpath, bool create, const Change& change,
                          const device_write& device)
{
    for (int attempt = 0; attempt < max_attempts; ++attempt)
        if (std::optional<write_outcome> outcome = change_once(wpath, create, change, device))
            return *outcome;
    return write_outcome::open_failed;
}

// Either way the new image is written to a new file, which then takes the old
// one's place: the old image whole with the new blocks after it, or the new
// image alone. Only a file with several names is written in place, as a
// replace would part it from the others.
write_outcome write_regular(const std::wstring& wpath, const std::uint8_t* bytes, std::size_t count,
                            bool append, bool durable)
{
    auto change = [&](HANDLE file, const std::vector<std::uint8_t>& old, bool existed,
                      DWORD attributes) {
        if (existed && link_count(file) > 1)
            return rewrite_in_place(file, old, bytes, count, append, durable);
        if (append)
            return replace_with(wpath, true, attributes, durable,
                                {{old.data(), old.size()}, {bytes, count}});
        return replace_with(wpath, true, attributes, durable, {{bytes, count}});
    };
    if (!append && GetFileAttributesW(wpath.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND && !replace_under_way(wpath)) {
        // Nothing to keep and nothing to lock: the new file takes the free
        // name whole, so that an ended run leaves no empty file. If another
        // run made the file meanwhile, the change goes under its lock.
        const console_events_held hold;
        const write_outcome outcome =
            replace_with(wpath, false, FILE_ATTRIBUTE_NORMAL, durable, {{bytes, count}});
        const DWORD error = GetLastError();
        if (outcome != write_outcome::open_failed ||
            (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS))
            return outcome;
    }
    return change_file(wpath, true, change, device_write{true, append, bytes, count});
}

} // namespace

namespace {

// The outcome with the system's words for a failure, as the last call that
// failed left them.
write_result with_reason(write_outcome outcome)
{
    write_result result{outcome, {}};
    if (outcome != write_outcome::written && outcome != write_outcome::declined)
        result.reason = reason_for(GetLastError());
    return result;
}

write_outcome update_outcome(const std::string& path, bool create, const image_transform& transform,
                             bool durable);

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                          bool append, sync_mode sync)
{
    if (path.empty())
        return {write_outcome::open_failed, reason_for(ERROR_FILE_NOT_FOUND)};
    const std::wstring wpath = wide(path);
    return with_reason(write_regular(wpath, bytes, count, append, sync == sync_mode::durable));
}

// The new file takes the name only by a move that replaces nothing; a file
// or a link that holds the name by then refuses it.
write_result write_new(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                       sync_mode sync)
{
    if (path.empty())
        return {write_outcome::open_failed, reason_for(ERROR_FILE_NOT_FOUND)};
    const std::wstring wpath = wide(path);
    const console_events_held hold;
    const write_outcome outcome = replace_with(wpath, false, FILE_ATTRIBUTE_NORMAL,
                                               sync == sync_mode::durable, {{bytes, count}});
    const DWORD error = GetLastError();
    if (outcome == write_outcome::open_failed &&
        (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
        return {write_outcome::exists, std::strerror(EEXIST)};
    return with_reason(outcome);
}

write_result update_output(const std::string& path, bool create, const image_transform& transform,
                           sync_mode sync)
{
    if (path.empty())
        return {write_outcome::open_failed, reason_for(ERROR_FILE_NOT_FOUND)};
    return with_reason(update_outcome(path, create, transform, sync == sync_mode::durable));
}

namespace {

// The old image is read whole under the lock here, and the new one put
// together in memory from the plan.
write_outcome update_outcome(const std::string& path, bool create, const image_transform& transform,
                             bool durable)
{
    const std::wstring wpath = wide(path);
    auto change = [&](HANDLE /*file*/, const std::vector<std::uint8_t>& old, bool existed,
                      DWORD attributes) {
        if (old.size() > largest_update) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return write_outcome::read_failed;
        }
        bool read_failed = false;
        const old_file source{
            old.size(), [&](std::uint64_t at, std::uint8_t* into, std::size_t count) {
                if (at > old.size() || count > old.size() - at) {
                    read_failed = true;
                    return false;
                }
                std::copy(old.begin() + static_cast<std::ptrdiff_t>(at),
                          old.begin() + static_cast<std::ptrdiff_t>(at + count), into);
                return true;
            }};
        std::vector<std::uint8_t> updated;
        try {
            std::vector<image_piece> plan;
            const bool accepted = transform(source, existed, plan);
            if (read_failed) {
                SetLastError(ERROR_HANDLE_EOF);
                return write_outcome::read_failed;
            }
            if (!accepted)
                return write_outcome::declined;
            for (const image_piece& piece : plan) {
                const std::uint8_t* from =
                    piece.bytes ? piece.bytes
                                : old.data() + static_cast<std::ptrdiff_t>(piece.from);
                updated.insert(updated.end(), from,
                               from + static_cast<std::ptrdiff_t>(piece.count));
            }
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return write_outcome::read_failed;
        }
        return replace_with(wpath, true, attributes, durable, {{updated.data(), updated.size()}});
    };
    return change_file(wpath, create, change, device_write{});
}

} // namespace

read_result open_input_stream(const std::string& path, input_stream& stream)
{
    stream = input_stream{};
    if (path == "-") {
        stream.handle = 0;
    } else {
        const std::wstring wpath = wide(path);
        if (is_folder(wpath))
            return {read_outcome::read_failed, std::strerror(EISDIR)};
        stream.handle = _wopen(wpath.c_str(), _O_RDONLY | _O_BINARY);
        if (stream.handle < 0)
            return {read_outcome::open_failed, std::strerror(errno)};
        stream.owned = true;
    }
    struct _stat64 info {};
    if (_fstat64(stream.handle, &info) == 0 && (info.st_mode & _S_IFREG) != 0) {
        stream.regular = true;
        stream.size = static_cast<std::uint64_t>(info.st_size);
    }
    return {};
}

read_result read_input_stream(input_stream& stream, std::uint8_t* into, std::size_t room,
                              std::size_t& got)
{
    got = 0;
    const int count =
        _read(stream.handle, into, room > 0x40000000 ? 0x40000000u : static_cast<unsigned>(room));
    if (count < 0)
        return {read_outcome::read_failed, std::strerror(errno)};
    got = static_cast<std::size_t>(count);
    return {};
}

void close_input_stream(input_stream& stream)
{
    if (stream.owned && stream.handle >= 0)
        _close(stream.handle);
    stream = input_stream{};
}

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

// Windows has no sync of a folder's names; NTFS keeps them in its journal.
bool make_folders(const std::string& path, sync_mode, std::string& reason)
{
    const std::wstring wpath = wide(path);
    for (std::size_t end = wpath.find_first_not_of(L"/\\"); end != std::wstring::npos;) {
        end = wpath.find_first_of(L"/\\", end);
        const std::wstring part = wpath.substr(0, end);
        if (end != std::wstring::npos)
            end = wpath.find_first_not_of(L"/\\", end);
        // A drive ("C:") is there already.
        if (part.size() == 2 && part[1] == L':')
            continue;
        if (CreateDirectoryW(part.c_str(), nullptr))
            continue;
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS && is_folder(part))
            continue;
        reason = reason_for(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
        return false;
    }
    return true;
}
