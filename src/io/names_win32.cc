// Names in a folder on Windows: a new file made only where the name is free,
// the old file replaced by ReplaceFileW (a file that is open cannot be
// renamed over), a new one moved to a free name, a name taken away.
#include "io/handles_win32.h"
#include "io/write_policy.h"

#include <cerrno>

namespace cassmak::core {

namespace win32_seam {

namespace {

// A name beside `target` that no file has: `.NAME.XXXXXX` and the ending.
std::wstring unused_name(const std::wstring& target, const wchar_t* ending)
{
    const std::size_t cut = target.find_last_of(L"/\\:");
    const std::wstring folder = cut == std::wstring::npos ? L"" : target.substr(0, cut + 1);
    const std::wstring base = cut == std::wstring::npos ? target : target.substr(cut + 1);
    static unsigned counter = 0;
    std::wstring name;
    for (int attempt = 0; attempt < write_policy::max_attempts; ++attempt) {
        const unsigned long long seed =
            GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
            (++counter * 0x9E3779B97F4A7C15ULL);
        std::wstring suffix;
        unsigned long long value = seed;
        for (int i = 0; i < 6; ++i, value /= 36)
            suffix += L"0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        name = folder + L"." + base + L"." + suffix + ending;
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
    }
    return name;
}

// Whether a name that no file holds is free to take: not while another run
// is between the two renames of its replace, whose second would then fail
// and leave its image aside (the system's error says the name is taken).
bool free_name(const std::wstring& path)
{
    if (!replace_under_way(path))
        return true;
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
}

// Puts the new file in the old one's place. The file being replaced is open
// (this run holds its lock on it, and runs waiting for the lock hold it too),
// and a file that is open cannot be renamed over; ReplaceFileW can, by first
// moving the old file aside. It moves it to a name of our own beside it,
// removed once the new file stands at the path, so that a run ended between
// its two renames leaves the old image there, not nowhere. MoveFileExW serves
// a file that does not exist (any more). Another program that holds the old
// file open without sharing its deletion refuses the replace, for a moment or
// for good: a few short waits, then false. The move is written through.
bool put_in_place(const std::wstring& temp_path, const std::wstring& target)
{
    bool existed = true;
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
                return fail(error);
            }
            if (error == ERROR_FILE_NOT_FOUND)
                existed = false;
        }
        if (!existed && free_name(target) &&
            MoveFileExW(temp_path.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return fail(error); // another run made the file meanwhile: its lock decides
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
            error != ERROR_LOCK_VIOLATION && error != ERROR_UNABLE_TO_REMOVE_REPLACED)
            return fail(error);
        Sleep(50);
    }
    return fail(GetLastError());
}

} // namespace

} // namespace win32_seam

namespace platform {

using namespace win32_seam;

// Who may use the file is the folder's to say on Windows; a temporary file
// takes the old one's attributes next.
bool create_new_at(handle folder, const std::string& name, new_file_access, handle& file)
{
    const std::wstring path = path_at(folder, name);
    if (!free_name(path))
        return fail(ERROR_FILE_EXISTS);
    HANDLE made = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share_all,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE)
        return fail(GetLastError());
    file = of(made);
    return true;
}

void remove_at(handle folder, const std::string& name)
{
    DeleteFileW(path_at(folder, name).c_str());
}

// Only a name that another run took meanwhile is refused for a moment: the
// file is then changed under that run's lock. Any other refusal is the
// file's own, and it is left as it is.
replacing_rename rename_over(handle folder, const std::string& from, const std::string& to)
{
    if (put_in_place(path_at(folder, from), path_at(folder, to)))
        return replacing_rename::renamed;
    return last_fault() == EEXIST ? replacing_rename::refused : replacing_rename::refused_for_good;
}

// A move that replaces nothing: a file or a link that holds the name by then
// refuses it.
exclusive_rename rename_exclusive(handle folder, const std::string& from, const std::string& to)
{
    const std::wstring target = path_at(folder, to);
    if (free_name(target) &&
        MoveFileExW(path_at(folder, from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return exclusive_rename::renamed;
    const DWORD error = GetLastError();
    fail(error);
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? exclusive_rename::taken
                                                                       : exclusive_rename::refused;
}

folder_made make_folder(const std::string& path)
{
    const std::wstring wpath = win32_text::wide(path);
    // A drive ("C:") is there already.
    if (wpath.size() == 2 && wpath[1] == L':')
        return folder_made::there;
    if (CreateDirectoryW(wpath.c_str(), nullptr))
        return folder_made::made;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && is_folder(wpath))
        return folder_made::there;
    fail(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
    return folder_made::failed;
}

std::uint64_t name_seed()
{
    static unsigned counter = 0;
    return GetTickCount64() ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 20) ^
           (++counter * 0x9E3779B97F4A7C15ULL);
}

} // namespace platform

} // namespace cassmak::core
