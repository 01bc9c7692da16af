// Where a file is: its name followed through links, its folder held open,
// and whether a name still names an open file.
#include "io/open_flags_posix.h"
#include "io/platform.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cassmak::core {

namespace platform {

std::string final_name(const std::string& path)
{
    std::string current = path;
    std::vector<char> target(PATH_MAX);
    for (int hop = 0; hop < 40; ++hop) {
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) == target.size())
            break;
        std::string next;
        if (target[0] != '/') {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                next = current.substr(0, slash + 1);
        }
        next.append(target.data(), static_cast<std::size_t>(length));
        current = std::move(next);
    }
    return current;
}

path_state state_of(const std::string& path)
{
    struct stat state {};
    if (stat(path.c_str(), &state) == 0)
        return S_ISREG(state.st_mode)   ? path_state::regular
               : S_ISDIR(state.st_mode) ? path_state::folder
                                        : path_state::other;
    return errno == ENOENT ? path_state::missing : path_state::failed;
}

bool open_folder(const std::string& folder, handle& opened)
{
    opened = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | open_flags);
    return opened >= 0;
}

bool name_missing(handle folder, const std::string& name)
{
    struct stat named {};
    return fstatat(static_cast<int>(folder), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT;
}

bool names_beginning(handle folder, const std::string& prefix, std::vector<std::string>& names)
{
    const int listed = openat(static_cast<int>(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return false;
    DIR* entries = fdopendir(listed);
    if (!entries) {
        close(listed);
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    const int error = errno;
    closedir(entries);
    errno = error;
    return error == 0;
}

bool still_named(handle file, handle folder, const std::string& name, file_facts& facts)
{
    struct stat state {};
    struct stat named {};
    if (fstat(static_cast<int>(file), &state) != 0)
        return false;
    facts.size = static_cast<std::uint64_t>(state.st_size);
    facts.links = static_cast<std::uint64_t>(state.st_nlink);
    facts.regular = S_ISREG(state.st_mode);
    facts.volume = static_cast<std::uint64_t>(state.st_dev);
    facts.index = static_cast<std::uint64_t>(state.st_ino);
    return fstatat(static_cast<int>(folder), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           named.st_dev == state.st_dev && named.st_ino == state.st_ino;
}

} // namespace platform

} // namespace cassmak::core
