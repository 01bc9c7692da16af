// The POSIX seam's reads, streams, terminals and the questions about a path;
// its writes are the portable ones over the primitives of the *_posix.cc
// files beside it.
#include "io/files.h"
#include "io/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cassmak::core {

std::FILE* open_input_file(const std::string& path)
{
    struct stat state {};
    if (stat(path.c_str(), &state) == 0 && S_ISDIR(state.st_mode))
        return nullptr;
    return std::fopen(path.c_str(), "rb");
}

// ---- The primitives of reading a whole file (reads.cc) ----

namespace platform {

read_result open_reading(const std::string& path, reading& file)
{
    const int fd = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {read_outcome::open_failed, std::strerror(errno)};
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        // A folder opens here and fails only when read; it fails before
        // anything is read, as on every platform.
        close(fd);
        return {read_outcome::read_failed, std::strerror(EISDIR)};
    }
    file.handle = fd;
    file.open = true;
    // Read once from start to end: the kernel may read ahead further.
    if (S_ISREG(info.st_mode))
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return {};
}

bool regular_size(const reading& file, std::uint64_t& size)
{
    struct stat info {};
    if (fstat(static_cast<int>(file.handle), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

read_result read_some(const reading& file, std::uint8_t* into, std::size_t room, std::size_t& got)
{
    got = 0;
    for (;;) {
        const ssize_t count = read(static_cast<int>(file.handle), into, room);
        if (count >= 0) {
            got = static_cast<std::size_t>(count);
            return {};
        }
        if (errno != EINTR)
            return {read_outcome::read_failed, std::strerror(errno)};
    }
}

void close_reading(reading& file)
{
    if (file.open)
        close(static_cast<int>(file.handle));
    file = reading{};
}

} // namespace platform

bool is_terminal(console_stream stream)
{
    switch (stream) {
    case console_stream::input: return isatty(STDIN_FILENO) != 0;
    case console_stream::output: return isatty(STDOUT_FILENO) != 0;
    case console_stream::error: break;
    }
    return isatty(STDERR_FILENO) != 0;
}

path_kind look_at_path(const std::string& path, std::string& reason)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return path_kind::missing;
        reason = std::strerror(errno);
        return path_kind::other;
    }
    if (S_ISREG(status.st_mode))
        return path_kind::file;
    if (S_ISDIR(status.st_mode))
        return path_kind::folder;
    if (S_ISLNK(status.st_mode))
        return path_kind::link;
    return path_kind::other;
}

bool names_same_file(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    const auto plain = [](const struct stat& status) {
        return S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
    };
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && plain(first) &&
           plain(second) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace cassmak::core
