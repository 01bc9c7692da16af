// Open files as descriptors: opened at a folder or a path, written, read,
// cut, copied within the kernel, synced and closed.
#include "io/open_flags_posix.h"
#include "io/platform.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif
#include <unistd.h>
#include <vector>

namespace cassmak::core {

namespace platform {

namespace {

int fd_of(handle file)
{
    return static_cast<int>(file);
}

} // namespace

bool open_at(handle folder, const std::string& name, handle& file, bool& readable)
{
    // Non-blocking, so that a pipe swapped in cannot hold the run; it is then
    // found not to be a regular file.
    const int flags = O_NOFOLLOW | O_NONBLOCK | open_flags;
    readable = true;
    int fd = openat(fd_of(folder), name.c_str(), O_RDWR | flags);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = openat(fd_of(folder), name.c_str(), O_WRONLY | flags);
    }
    file = fd;
    return fd >= 0;
}

bool open_for_writing(const std::string& path, bool append, handle& file)
{
    file =
        open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | open_flags, 0666);
    return file >= 0;
}

bool seek_start(handle file)
{
    return lseek(fd_of(file), 0, SEEK_SET) >= 0;
}

bool position_of(handle file, std::uint64_t& at)
{
    const off_t position = lseek(fd_of(file), 0, SEEK_CUR);
    if (position < 0)
        return false;
    at = static_cast<std::uint64_t>(position);
    return true;
}

bool append_from_now(handle file)
{
    const int flags = fcntl(fd_of(file), F_GETFL);
    return flags >= 0 && fcntl(fd_of(file), F_SETFL, flags | O_APPEND) == 0;
}

bool write_at(handle file, const std::uint8_t* bytes, std::size_t count, std::int64_t at,
              std::size_t& done)
{
    done = 0;
    while (done < count) {
        const ssize_t put = at < 0 ? write(fd_of(file), bytes + done, count - done)
                                   : pwrite(fd_of(file), bytes + done, count - done,
                                            static_cast<off_t>(at) + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool read_at(handle file, std::uint8_t* into, std::size_t count, std::uint64_t at)
{
    std::size_t got = 0;
    while (got < count) {
        const ssize_t part = pread(fd_of(file), into + got, count - got,
                                   static_cast<off_t>(at) + static_cast<off_t>(got));
        if (part < 0 && errno == EINTR)
            continue;
        if (part <= 0) {
            if (part == 0)
                errno = EIO;
            return false;
        }
        got += static_cast<std::size_t>(part);
    }
    return true;
}

bool truncate_to(handle file, std::uint64_t size)
{
    return ftruncate(fd_of(file), static_cast<off_t>(size)) == 0;
}

bool copy_range(handle from, std::uint64_t at, std::uint64_t count, handle to)
{
    auto offset = static_cast<off_t>(at);
    const auto end = static_cast<off_t>(at + count);
    while (offset < end) {
        const ssize_t copied = copy_file_range(fd_of(from), &offset, fd_of(to), nullptr,
                                               static_cast<std::size_t>(end - offset), 0);
        if (copied > 0)
            continue;
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied == 0) {
            errno = EIO; // shorter than it was under the lock
            return false;
        }
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        // Not between these two files: through a buffer instead.
        std::vector<std::uint8_t> buffer(
            static_cast<std::size_t>(std::min<off_t>(end - offset, off_t{1} << 18)));
        while (offset < end) {
            const auto part = static_cast<std::size_t>(
                std::min<off_t>(static_cast<off_t>(buffer.size()), end - offset));
            std::size_t done = 0;
            if (!read_at(from, buffer.data(), part, static_cast<std::uint64_t>(offset)) ||
                !write_at(to, buffer.data(), part, at_position, done))
                return false;
            offset += static_cast<off_t>(part);
        }
    }
    return true;
}

std::size_t page_size()
{
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

bool copies_unaligned_fast(handle file)
{
#ifdef __linux__
    struct statfs facts {};
    return fstatfs(fd_of(file), &facts) == 0 && facts.f_type == TMPFS_MAGIC;
#else
    (void)file;
    return false;
#endif
}

bool sync_to_disk(handle file)
{
    for (;;) {
        if (fsync(fd_of(file)) == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno == EINVAL || errno == ENOTSUP || errno == EROFS;
    }
}

void start_writing(handle file)
{
#ifdef SYNC_FILE_RANGE_WRITE
    (void)sync_file_range(fd_of(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

bool facts_of(handle file, file_facts& facts)
{
    struct stat state {};
    if (fstat(fd_of(file), &state) != 0)
        return false;
    facts.size = static_cast<std::uint64_t>(state.st_size);
    facts.links = static_cast<std::uint64_t>(state.st_nlink);
    facts.regular = S_ISREG(state.st_mode);
    facts.volume = static_cast<std::uint64_t>(state.st_dev);
    facts.index = static_cast<std::uint64_t>(state.st_ino);
    return true;
}

bool close_handle(handle file)
{
    return close(fd_of(file)) == 0;
}

} // namespace platform

} // namespace cassmak::core
