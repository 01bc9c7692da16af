// Names in a folder held open: a new file made only where the name is free,
// a rename over a name or only into a free one, a name taken away, a new
// folder.
#include "io/open_flags_posix.h"
#include "io/platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cassmak::core {

namespace platform {

bool create_new_at(handle folder, const std::string& name, new_file_access access, handle& file)
{
    const mode_t mode = access == new_file_access::owner_only ? 0600 : 0666;
    file = openat(static_cast<int>(folder), name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | open_flags, mode);
    return file >= 0;
}

void remove_at(handle folder, const std::string& name)
{
    unlinkat(static_cast<int>(folder), name.c_str(), 0);
}

// A refused rename (a folder without write permission, say) leaves the file
// itself to be written in place.
replacing_rename rename_over(handle folder, const std::string& from, const std::string& to)
{
    const int at = static_cast<int>(folder);
    return renameat(at, from.c_str(), at, to.c_str()) == 0 ? replacing_rename::renamed
                                                           : replacing_rename::refused;
}

exclusive_rename rename_exclusive(handle folder, const std::string& from, const std::string& to)
{
    const int at = static_cast<int>(folder);
    if (renameat2(at, from.c_str(), at, to.c_str(), RENAME_NOREPLACE) == 0)
        return exclusive_rename::renamed;
    if (errno == EEXIST)
        return exclusive_rename::taken;
    if (errno != EINVAL && errno != ENOSYS)
        return exclusive_rename::refused;
    // A file system that cannot rename exclusively can often still link.
    if (linkat(at, from.c_str(), at, to.c_str(), 0) == 0) {
        unlinkat(at, from.c_str(), 0);
        return exclusive_rename::renamed;
    }
    return errno == EEXIST ? exclusive_rename::taken : exclusive_rename::refused;
}

folder_made make_folder(const std::string& path)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return folder_made::made;
    if (errno != EEXIST)
        return folder_made::failed;
    struct stat state {};
    if (stat(path.c_str(), &state) == 0 && S_ISDIR(state.st_mode))
        return folder_made::there;
    errno = ENOTDIR;
    return folder_made::failed;
}

std::uint64_t name_seed()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
           (static_cast<std::uint64_t>(getpid()) << 42);
}

} // namespace platform

} // namespace cassmak::core
