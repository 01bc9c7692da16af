#include "io/files.h"
#include "io/platform.h"
#include "io/write_policy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int open_flags = O_NOCTTY | O_CLOEXEC;

using write_policy::largest_update;
using write_policy::max_attempts;

// What a step of a write came to, with the system's error at the point where
// it failed (not whatever a later clean-up left in errno).
struct step {
    write_outcome outcome = write_outcome::written;
    int error = 0;
};

constexpr step written{};

step failure(write_outcome outcome, int error)
{
    return {outcome, error != 0 ? error : EIO};
}

// Writes all `count` bytes at the descriptor's position, or from offset `at`
// when that is not negative; a short write goes on where it stopped. `done`
// counts what went in. False (with errno set) on the first failure.
bool write_all(int fd, const std::uint8_t* bytes, std::size_t count, off_t at, std::size_t& done)
{
    done = 0;
    while (done < count) {
        const ssize_t put =
            at < 0 ? write(fd, bytes + done, count - done)
                   : pwrite(fd, bytes + done, count - done, at + static_cast<off_t>(done));
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

bool write_all(int fd, const std::uint8_t* bytes, std::size_t count, off_t at = -1)
{
    std::size_t done = 0;
    return write_all(fd, bytes, count, at, done);
}

// Waits until the disk holds what was written to the file (or folder) open
// on `fd`; false (with errno set) when it cannot. A pipe, terminal or device
// that keeps nothing has nothing to sync.
bool sync_to_disk(int fd)
{
    for (;;) {
        if (fsync(fd) == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno == EINVAL || errno == ENOTSUP || errno == EROFS;
    }
}

// Syncs a file just written, when the change is to be durable.
bool sync_written(int fd, bool durable)
{
    return !durable || sync_to_disk(fd);
}

// Reads `count` bytes from offset `at` of the file open on `fd`; false when
// the file cannot be read or ends before.
bool read_exactly(int fd, std::uint8_t* into, std::size_t count, off_t at)
{
    std::size_t got = 0;
    while (got < count) {
        const ssize_t part = pread(fd, into + got, count - got, at + static_cast<off_t>(got));
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

// Holds every signal that ends a run from outside (Ctrl-C, kill, a closed
// terminal or pipe, a timer) over a step that must finish once begun; they
// take effect when the step is done and the previous mask is back. Only
// SIGKILL and SIGSTOP cannot be held; the signals of a fault in the run
// itself are not held, as holding them would not stop them.
sigset_t hold_signals()
{
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                       SIGVTALRM, SIGPROF, SIGPOLL, SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGPWR})
        sigaddset(&held, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous);
    return previous;
}

void release_signals(const sigset_t& previous)
{
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Waits for the exclusive lock that every writing run takes on a regular
// output. Signals are not held yet, so an interrupt still ends a run that
// waits here. False where the file system offers no locks: the run then goes
// on without one.
bool lock_file(int fd)
{
    for (;;) {
        if (flock(fd, LOCK_EX) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// A path as its folder (up to and with the last '/', empty for none) and the
// name after it.
struct path_parts {
    std::string folder;
    std::string name;
};

path_parts split_path(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Follows `path` through its symbolic links to the name that holds the file,
// or will hold it for a link to a file that is not there yet. Done once per
// run: every later step works on that name in that folder, so a link put in
// its way meanwhile redirects nothing.
std::string final_name(const std::string& path)
{
    std::string current = path;
    std::vector<char> target(PATH_MAX);
    for (int hop = 0; hop < 40; ++hop) {
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) == target.size())
            break;
        std::string next = target[0] == '/' ? std::string() : split_path(current).folder;
        next.append(target.data(), static_cast<std::size_t>(length));
        current = std::move(next);
    }
    return current;
}

// Where a regular output lies: its folder, open, so that every step after the
// path was resolved names the same folder, and the file's name in it.
class place {
  public:
    place() = default;
    ~place()
    {
        if (folder >= 0)
            close(folder);
    }
    place(const place&) = delete;
    place& operator=(const place&) = delete;

    int folder = -1;
    std::string name;
    bool durable = true; // the change is synced to the disk before it is done
};

enum class found { place, not_a_name, failed };

// Resolves `path` once and opens its folder. not_a_name for a path whose last
// part cannot be replaced by a rename ("", "." or ".."), and for an existing
// file (`exists`) whose name cannot be found by following the links' texts
// (a file reached through /proc that was removed since); failed, with the
// system's error in `error`, for a folder that cannot be opened.
found find_place(const std::string& path, bool exists, place& where, int& error)
{
    const path_parts parts = split_path(final_name(path));
    if (parts.name.empty() || parts.name == "." || parts.name == "..")
        return found::not_a_name;
    where.name = parts.name;
    where.folder = open(parts.folder.empty() ? "." : parts.folder.c_str(),
                        O_RDONLY | O_DIRECTORY | open_flags);
    if (where.folder < 0) {
        error = errno;
        return exists ? found::not_a_name : found::failed;
    }
    struct stat named {};
    if (exists && fstatat(where.folder, where.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        return found::not_a_name;
    return found::place;
}

// Opens the file at `where`, never through a link: one found there now was put
// there after the path was resolved. A write-only file is opened for writing
// alone; `readable` tells which.
int open_at_place(const place& where, bool& readable)
{
    // Non-blocking, so that a pipe swapped in cannot hold the run; it is then
    // found not to be a regular file.
    const int flags = O_NOFOLLOW | O_NONBLOCK | open_flags;
    readable = true;
    int fd = openat(where.folder, where.name.c_str(), O_RDWR | flags);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = openat(where.folder, where.name.c_str(), O_WRONLY | flags);
    }
    return fd;
}

// Whether `where` still names the file open on `fd`, whose state is then in
// `state`: while this run waited for the lock, another may have renamed a new
// image over the name.
bool still_named(int fd, const place& where, struct stat& state)
{
    struct stat named {};
    return fstat(fd, &state) == 0 &&
           fstatat(where.folder, where.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           named.st_dev == state.st_dev && named.st_ino == state.st_ino;
}

// The common tail of every change to an existing regular output: waits for
// the lock on `fd`, holds the signals, and runs `work` on the file's state
// (and whether the lock was had) if `where` still names it; closes `fd`
// either way. Nothing, so that the caller starts over, when the name has gone
// to another file meanwhile.
template <typename Work> std::optional<step> under_lock(int fd, const place& where, Work work)
{
    const bool locked = lock_file(fd);
    const sigset_t previous = hold_signals();
    std::optional<step> outcome;
    struct stat state {};
    if (still_named(fd, where, state) && S_ISREG(state.st_mode))
        outcome = work(static_cast<const struct stat&>(state), locked);
    close(fd);
    release_signals(previous);
    return outcome;
}

// Creates a new file with `mode` in the place's folder, under a hidden unique
// name beside the place's name that is left in `temp_name`; -1 when none can
// be made there.
int create_temp(const place& where, mode_t mode, std::string& temp_name)
{
    // A long name is cut, so that the temporary one stays within the limit.
    const std::string stem = "." + where.name.substr(0, 200) + ".";
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t seed = static_cast<std::uint64_t>(now.tv_nsec) ^
                         (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                         (static_cast<std::uint64_t>(getpid()) << 42);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed += 0x9E3779B97F4A7C15U;
        std::uint64_t mixed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9U;
        mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBU;
        mixed ^= mixed >> 31;
        temp_name = stem;
        for (int i = 0; i < 6; ++i, mixed /= 62)
            temp_name += letters[mixed % 62];
        const int fd = openat(where.folder, temp_name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | open_flags, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The names of the extended attributes of the file open on `fd` (POSIX ACLs
// among them), or nothing when they cannot be listed. A file system without
// them has none.
std::optional<std::vector<std::string>> attribute_names(int fd)
{
    std::vector<char> list;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional<std::vector<std::string>>(std::in_place)
                                    : std::nullopt;
        list.resize(static_cast<std::size_t>(size));
        const ssize_t got = flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            std::vector<std::string> names;
            for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
                names.emplace_back(list.data() + at);
                at += names.back().size() + 1;
            }
            return names;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<char>> attribute_value(int fd, const std::string& name)
{
    std::vector<char> value;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

// Gives the new file open on `to` exactly the extended attributes of the old
// one open on `from`, ACLs included: the old file's are set, and any that the
// new file took from its folder (a default ACL) are taken away again.
bool take_extended_attributes(int from, int to)
{
    const std::optional<std::vector<std::string>> old_names = attribute_names(from);
    const std::optional<std::vector<std::string>> new_names = attribute_names(to);
    if (!old_names || !new_names)
        return false;
    for (const std::string& name : *new_names)
        if (std::find(old_names->begin(), old_names->end(), name) == old_names->end() &&
            fremovexattr(to, name.c_str()) != 0)
            return false;
    for (const std::string& name : *old_names) {
        const std::optional<std::vector<char>> value = attribute_value(from, name);
        if (!value || fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0)
            return false;
    }
    return true;
}

// Gives the temporary file open on `temp` the old file's owner, group,
// permission bits and extended attributes; false when this process may not
// give them all, so that the old file is then rewritten in place and keeps
// them, and a run never widens what others may do with the file.
bool take_attributes(int temp, int old_fd, const struct stat& old)
{
    struct stat now {};
    if (fstat(temp, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(temp, old.st_uid, old.st_gid) != 0)
        return false;
    if (fchmod(temp, old.st_mode & 07777) != 0 || !take_extended_attributes(old_fd, temp))
        return false;
    // An ACL sets the group bits as its mask: they must come out as before.
    return fstat(temp, &now) == 0 && (now.st_mode & 07777) == (old.st_mode & 07777);
}

enum class temp_outcome {
    renamed,
    use_in_place, // the folder had no room for a second copy, or refused the rename
    taken,        // an exclusive rename found the name taken; nothing changed
    failed,
};

// Renames the temporary file to the place's name; with `exclusive`, only if
// that name is still free (taken otherwise, and the temporary file stays).
temp_outcome rename_into_place(const place& where, const std::string& temp_name, bool exclusive)
{
    const char* from = temp_name.c_str();
    const char* to = where.name.c_str();
    if (!exclusive)
        return renameat(where.folder, from, where.folder, to) == 0 ? temp_outcome::renamed
                                                                   : temp_outcome::use_in_place;
    if (renameat2(where.folder, from, where.folder, to, RENAME_NOREPLACE) == 0)
        return temp_outcome::renamed;
    if (errno == EEXIST)
        return temp_outcome::taken;
    if (errno != EINVAL && errno != ENOSYS)
        return temp_outcome::use_in_place;
    // A file system that cannot rename exclusively can often still link.
    if (linkat(where.folder, from, where.folder, to, 0) == 0) {
        unlinkat(where.folder, from, 0);
        return temp_outcome::renamed;
    }
    return errno == EEXIST ? temp_outcome::taken : temp_outcome::use_in_place;
}

// Closes the file open on `fd` that was just written, `filled` when the
// writing went through: the error (errno) of the writing or else of the
// close, or 0.
int close_written(int fd, bool filled)
{
    const int error = filled ? 0 : errno != 0 ? errno : EIO;
    if (close(fd) != 0 && filled)
        return errno;
    return error;
}

// Renames the temporary file, written and closed (`error` saying why not),
// into place. On any outcome but renamed it is removed again.
step finish_temp(const place& where, const std::string& temp_name, int error, bool exclusive,
                 temp_outcome& how)
{
    how = error == 0 ? rename_into_place(where, temp_name, exclusive) : temp_outcome::failed;
    if (how == temp_outcome::use_in_place)
        error = errno;
    if (how != temp_outcome::renamed)
        unlinkat(where.folder, temp_name.c_str(), 0);
    // No room for a second copy: the old file's own room may still do.
    if (how == temp_outcome::failed && (error == ENOSPC || error == EDQUOT))
        how = temp_outcome::use_in_place;
    if (how != temp_outcome::renamed)
        return failure(write_outcome::write_failed, error);
    // The new name is on the disk only once the folder is.
    return sync_written(where.folder, where.durable) ? written
                                                     : failure(write_outcome::unsynced, errno);
}

// Overwrites the regular file open on `fd` where it lies. Only the part that
// the new image covers is kept, in memory, and written back if the new image
// does not go in whole: the file is cut to its new length only at the end, so
// the rest of the old image is never touched until then, and writing back
// needs no room the file did not have. Between the write and the cut the file
// holds the new image followed by the old image's tail, a window of one
// system call. A file that this run may write but not read cannot be kept:
// with `must_keep` it is then left alone, otherwise it is written without
// that safety net.
step rewrite_in_place(int fd, bool readable, const std::uint8_t* bytes, std::size_t count,
                      bool must_keep, bool durable)
{
    struct stat state {};
    if (fstat(fd, &state) != 0)
        return failure(write_outcome::write_failed, errno);
    const auto old_size = static_cast<std::uint64_t>(state.st_size);
    std::vector<std::uint8_t> kept(
        static_cast<std::size_t>(std::min<std::uint64_t>(old_size, count)));
    const bool keep = readable && read_exactly(fd, kept.data(), kept.size(), 0);
    if (!keep && must_keep)
        return failure(write_outcome::write_failed, readable ? errno : EACCES);
    if (write_all(fd, bytes, count, 0) &&
        (old_size <= count || ftruncate(fd, static_cast<off_t>(count)) == 0) &&
        sync_written(fd, durable))
        return written;
    const int error = errno;
    if (keep) {
        write_all(fd, kept.data(), kept.size(), 0);
        if (ftruncate(fd, static_cast<off_t>(old_size)) != 0 || !sync_written(fd, durable)) {
            // Nothing more can be done; the failure is reported either way.
        }
    }
    return failure(write_outcome::write_failed, error);
}

// Puts a new file in place of the existing regular file open (and locked) on
// `fd`, whose state is `old`: made beside it with its owner, mode and
// attributes, filled by `fill`, and renamed over it once whole. Nothing when
// the rename would not give the same file (an owner or attribute this process
// cannot give, a folder without room or without write permission), and the
// caller writes in place instead; `written_first` then says whether that was
// found only after writing the new file.
template <typename Fill>
std::optional<step> replace_by_rename(int fd, const place& where, const struct stat& old, Fill fill,
                                      bool& written_first)
{
    written_first = false;
    std::string temp_name;
    const int temp = create_temp(where, 0600, temp_name);
    if (temp < 0)
        return std::nullopt;
    if (!take_attributes(temp, fd, old)) {
        close(temp);
        unlinkat(where.folder, temp_name.c_str(), 0);
        return std::nullopt;
    }
    // The data must be on the disk before the name is: a rename that reaches
    // the disk first would leave an empty file in place of the old image.
    const int error = close_written(temp, fill(temp) && sync_written(temp, where.durable));
    temp_outcome how{};
    const step outcome = finish_temp(where, temp_name, error, false, how);
    written_first = true;
    if (how == temp_outcome::use_in_place)
        return std::nullopt;
    return outcome;
}

// Replaces the existing regular file open (and locked) on `fd`, whose state is
// `old`, with a new image by a rename; a file with other names, or one the
// rename would not keep, is rewritten in place instead.
step replace_regular(int fd, bool readable, const place& where, const struct stat& old,
                     const std::uint8_t* bytes, std::size_t count)
{
    bool written_first = false;
    if (old.st_nlink == 1)
        if (std::optional<step> outcome = replace_by_rename(
                fd, where, old, [&](int temp) { return write_all(temp, bytes, count); },
                written_first))
            return *outcome;
    // After a new file written in vain (no room for it, say) the old image is
    // rewritten in place only where it can be kept meanwhile.
    return rewrite_in_place(fd, readable, bytes, count, written_first, where.durable);
}

// Makes the output at `where`, which is not there yet, from `count` bytes:
// they go into a temporary file, renamed to the name once whole. With
// `exclusive` (an append, or an update) the name must still be free then, and
// nothing is returned, so that the caller starts over, when another run made
// the file meanwhile.
std::optional<step> create_output(const place& where, const std::uint8_t* bytes, std::size_t count,
                                  bool exclusive)
{
    const sigset_t previous = hold_signals();
    std::string temp_name;
    int fd = create_temp(where, 0666, temp_name);
    if (fd >= 0) {
        const int error =
            close_written(fd, write_all(fd, bytes, count) && sync_written(fd, where.durable));
        temp_outcome how{};
        const step outcome = finish_temp(where, temp_name, error, exclusive, how);
        if (how != temp_outcome::use_in_place) {
            release_signals(previous);
            if (how == temp_outcome::taken)
                return std::nullopt;
            return outcome;
        }
    }
    // The folder refused the temporary name, or the rename; the output's own
    // name shows whether it can be made at all.
    std::optional<step> outcome;
    fd = openat(where.folder, where.name.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | open_flags, 0666);
    if (fd >= 0) {
        const int error =
            close_written(fd, write_all(fd, bytes, count) && sync_written(fd, where.durable));
        if (error != 0)
            unlinkat(where.folder, where.name.c_str(), 0);
        outcome = error == 0 ? written : failure(write_outcome::write_failed, error);
        if (error == 0 && !sync_written(where.folder, where.durable))
            outcome = failure(write_outcome::unsynced, errno);
    } else if (errno != EEXIST) {
        outcome = failure(write_outcome::open_failed, errno);
    }
    release_signals(previous);
    return outcome;
}

// Writes where the output lies, as a plain open for writing does: devices,
// pipes and terminals (a replaced one must be positionable), and paths that
// cannot be opened at all, which fail here before anything is written.
step write_in_place(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                    bool append, bool durable)
{
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | open_flags, 0666);
    if (fd < 0)
        return failure(write_outcome::open_failed, errno);
    if (!append && lseek(fd, 0, SEEK_SET) < 0) {
        const int error = errno;
        close(fd);
        return failure(write_outcome::access_failed, error);
    }
    // A device or a pipe may wait for its reader, so an interrupt must still
    // end the run here.
    const int error = close_written(fd, write_all(fd, bytes, count) && sync_written(fd, durable));
    return error == 0 ? written : failure(write_outcome::write_failed, error);
}

// What an output path names before anything is written to it.
enum class output_kind { regular, absent, other };

// `why` is the system's word for an output that is not a regular file.
output_kind kind_of(const std::string& path, int& why)
{
    struct stat state {};
    if (stat(path.c_str(), &state) == 0) {
        why = S_ISDIR(state.st_mode) ? EISDIR : ENOTSUP;
        return S_ISREG(state.st_mode) ? output_kind::regular : output_kind::other;
    }
    // Missing, or a link to a file that is not there yet; anything else (no
    // permission, a file where a folder should be) fails as a plain open does.
    why = errno;
    return errno == ENOENT ? output_kind::absent : output_kind::other;
}

// Finds the place of a regular output at `path` that is `kind`; the outcome
// to give instead (a write where the path lies, or a failure) when there is
// no place to rename at.
std::optional<step> place_of(const std::string& path, output_kind kind, place& where,
                             const std::uint8_t* bytes, std::size_t count, bool append)
{
    int error = 0;
    switch (kind == output_kind::other
                ? found::not_a_name
                : find_place(path, kind == output_kind::regular, where, error)) {
    case found::place: return std::nullopt;
    case found::not_a_name: return write_in_place(path, bytes, count, append, where.durable);
    case found::failed: break;
    }
    return failure(write_outcome::open_failed, error);
}

// Runs `work` on the existing regular file at `where` under the lock, or
// `create` when there is none; starts over (a bounded number of times) when
// another run replaced or made the file meanwhile, then fails as an open.
template <typename Work, typename Create>
step at_place(const place& where, Work work, Create create)
{
    int error = 0;
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        bool readable = true;
        const int fd = open_at_place(where, readable);
        if (fd < 0 && errno == ENOENT) {
            if (std::optional<step> outcome = create())
                return *outcome;
            continue;
        }
        if (fd < 0) {
            // A link, or something else, put at the resolved name since: it is
            // not followed; a run that replaced it may soon be done.
            error = errno;
            if (error != ELOOP)
                return failure(write_outcome::open_failed, error);
            continue;
        }
        if (std::optional<step> outcome =
                under_lock(fd, where, [&](const struct stat& locked, bool have_lock) {
                    return work(fd, readable, locked, have_lock);
                }))
            return *outcome;
        error = EAGAIN;
    }
    return failure(write_outcome::open_failed, error);
}

step replace_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                    bool durable)
{
    int why = 0;
    place where;
    where.durable = durable;
    if (std::optional<step> instead =
            place_of(path, kind_of(path, why), where, bytes, count, false))
        return *instead;
    return at_place(
        where,
        [&](int fd, bool readable, const struct stat& locked, bool) -> std::optional<step> {
            return replace_regular(fd, readable, where, locked, bytes, count);
        },
        [&] { return create_output(where, bytes, count, false); });
}

// Makes a new file at `path`, its own folder and name: a link there is not
// followed but holds the name, as any file does.
step create_new(const std::string& path, const std::uint8_t* bytes, std::size_t count, bool durable)
{
    const path_parts parts = split_path(path);
    if (parts.name.empty() || parts.name == "." || parts.name == "..")
        return failure(write_outcome::open_failed, EISDIR);
    place where;
    where.durable = durable;
    where.name = parts.name;
    where.folder = open(parts.folder.empty() ? "." : parts.folder.c_str(),
                        O_RDONLY | O_DIRECTORY | open_flags);
    if (where.folder < 0)
        return failure(write_outcome::open_failed, errno);
    if (std::optional<step> outcome = create_output(where, bytes, count, true))
        return *outcome;
    return failure(write_outcome::exists, EEXIST);
}

// Copies `count` bytes from offset `at` of the file open on `from` to the
// position of the one open on `to`, within the kernel where it can (sharing
// the blocks where the file system can), else through a small buffer.
bool copy_range(int from, std::uint64_t at, std::uint64_t count, int to)
{
    auto offset = static_cast<off_t>(at);
    const auto end = static_cast<off_t>(at + count);
    while (offset < end) {
        const ssize_t copied =
            copy_file_range(from, &offset, to, nullptr, static_cast<std::size_t>(end - offset), 0);
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
            if (!read_exactly(from, buffer.data(), part, offset) ||
                !write_all(to, buffer.data(), part))
                return false;
            offset += static_cast<off_t>(part);
        }
    }
    return true;
}

// Writes the pieces of a new image to the file open on `to`: new bytes as
// they are, spans of the old image (open on `from`) copied by copy_range.
bool write_plan(int from, const std::vector<image_piece>& plan, int to)
{
    for (const image_piece& piece : plan)
        if (piece.bytes ? !write_all(to, piece.bytes, static_cast<std::size_t>(piece.count))
                        : !copy_range(from, piece.from, piece.count, to))
            return false;
    return true;
}

// Adds the bytes to the end of the file open on `fd` where it lies. Under the
// lock the length measured there is where a failed write is cut back to,
// which takes away this run's bytes and nobody else's. Without a lock another
// run may append at the same time, so the bytes go in with O_APPEND, and a
// failed write is cut back only while the file still ends with them: bytes
// that another run added after them are never cut away.
step append_in_place(int fd, const struct stat& locked, bool have_lock, const std::uint8_t* bytes,
                     std::size_t count, bool durable)
{
    std::size_t done = 0;
    if (have_lock) {
        if (write_all(fd, bytes, count, locked.st_size, done) && sync_written(fd, durable))
            return written;
        const int error = errno;
        if (ftruncate(fd, locked.st_size) != 0) {
            // The failure is reported either way.
        }
        return failure(write_outcome::write_failed, error);
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) != 0)
        return failure(write_outcome::write_failed, errno);
    if (write_all(fd, bytes, count, -1, done) && sync_written(fd, durable))
        return written;
    const int error = errno;
    const off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat now {};
    if (done > 0 && end >= static_cast<off_t>(done) && fstat(fd, &now) == 0 && now.st_size == end &&
        ftruncate(fd, end - static_cast<off_t>(done)) != 0) {
        // The failure is reported either way.
    }
    return failure(write_outcome::write_failed, error);
}

// Appends to the regular file open and locked on `fd` the way a replace
// writes: the old image and the new bytes go into a temporary file beside it,
// renamed over it once whole, so that a run killed at any moment leaves the
// old image or the new one. Nothing when the rename cannot give the same file
// (see replace_regular); the bytes are then added in place.
std::optional<step> append_by_copy(int fd, const place& where, const struct stat& old,
                                   const std::uint8_t* bytes, std::size_t count)
{
    bool written_first = false;
    return replace_by_rename(
        fd, where, old,
        [&](int temp) {
            return copy_range(fd, 0, static_cast<std::uint64_t>(old.st_size), temp) &&
                   write_all(temp, bytes, count);
        },
        written_first);
}

step append_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                   bool durable)
{
    int why = 0;
    place where;
    where.durable = durable;
    if (std::optional<step> instead = place_of(path, kind_of(path, why), where, bytes, count, true))
        return *instead;
    return at_place(
        where,
        [&](int fd, bool readable, const struct stat& locked, bool have_lock) {
            // Without the lock two appends copying the same old image would
            // each drop the other's file; in place they both land.
            if (have_lock && readable && locked.st_nlink == 1)
                if (std::optional<step> outcome = append_by_copy(fd, where, locked, bytes, count))
                    return outcome;
            return std::optional<step>(
                append_in_place(fd, locked, have_lock, bytes, count, durable));
        },
        [&] { return create_output(where, bytes, count, true); });
}

// The bytes of a plan, for a file that is rewritten in place or made anew:
// spans of the old image read from the file open on `fd`.
bool assemble_plan(int fd, const std::vector<image_piece>& plan, std::vector<std::uint8_t>& out)
{
    std::uint64_t total = 0;
    for (const image_piece& piece : plan)
        total += piece.count;
    try {
        out.resize(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    std::size_t at = 0;
    for (const image_piece& piece : plan) {
        const auto count = static_cast<std::size_t>(piece.count);
        if (piece.bytes)
            std::copy(piece.bytes, piece.bytes + count,
                      out.begin() + static_cast<std::ptrdiff_t>(at));
        else if (!read_exactly(fd, out.data() + at, count, static_cast<off_t>(piece.from)))
            return false;
        at += count;
    }
    return true;
}

// Calls the transform on the old image, which it reads from `fd` of `size`
// bytes (no file: -1): the plan, or the step to give instead when the
// transform refused, a read of the old image failed or memory ran out.
std::optional<step> plan_update(int fd, std::uint64_t size, bool existed,
                                const image_transform& transform, std::vector<image_piece>& plan)
{
    int read_error = 0;
    const old_file old{size, [&](std::uint64_t at, std::uint8_t* into, std::size_t count) {
                           if (fd >= 0 && at <= size && count <= size - at &&
                               read_exactly(fd, into, count, static_cast<off_t>(at)))
                               return true;
                           read_error = fd >= 0 && errno != 0 ? errno : EIO;
                           return false;
                       }};
    bool accepted = false;
    try {
        accepted = transform(old, existed, plan);
    } catch (const std::bad_alloc&) {
        return failure(write_outcome::read_failed, ENOMEM);
    }
    if (read_error != 0)
        return failure(write_outcome::read_failed, read_error);
    if (!accepted)
        return step{write_outcome::declined, 0};
    return std::nullopt;
}

step update_existing(int fd, bool readable, const place& where, const struct stat& locked,
                     const image_transform& transform)
{
    if (!readable)
        return failure(write_outcome::read_failed, EACCES);
    if (static_cast<std::uint64_t>(locked.st_size) > largest_update)
        return failure(write_outcome::read_failed, EFBIG);
    std::vector<image_piece> plan;
    if (std::optional<step> instead =
            plan_update(fd, static_cast<std::uint64_t>(locked.st_size), true, transform, plan))
        return *instead;
    bool written_first = false;
    if (locked.st_nlink == 1)
        if (std::optional<step> outcome = replace_by_rename(
                fd, where, locked, [&](int temp) { return write_plan(fd, plan, temp); },
                written_first))
            return *outcome;
    // In place the new image must be whole in memory before the old one is
    // overwritten, as it is read from the old one.
    std::vector<std::uint8_t> updated;
    if (!assemble_plan(fd, plan, updated))
        return failure(write_outcome::read_failed, errno);
    return rewrite_in_place(fd, readable, updated.data(), updated.size(), written_first,
                            where.durable);
}

step update_at(const std::string& path, bool create, const image_transform& transform, bool durable)
{
    // Only a regular file is an image that can be changed as a whole.
    int why = 0;
    const output_kind kind = kind_of(path, why);
    if (kind == output_kind::other || (kind == output_kind::absent && !create))
        return failure(write_outcome::open_failed, why);
    place where;
    where.durable = durable;
    int error = 0;
    switch (find_place(path, kind == output_kind::regular, where, error)) {
    case found::place: break;
    case found::not_a_name: return failure(write_outcome::open_failed, ENOTSUP);
    case found::failed: return failure(write_outcome::open_failed, error);
    }
    return at_place(
        where,
        [&](int fd, bool readable, const struct stat& locked, bool) -> std::optional<step> {
            return update_existing(fd, readable, where, locked, transform);
        },
        [&]() -> std::optional<step> {
            if (!create)
                return failure(write_outcome::open_failed, ENOENT);
            std::vector<image_piece> plan;
            if (std::optional<step> instead = plan_update(-1, 0, false, transform, plan))
                return *instead;
            std::vector<std::uint8_t> updated;
            if (!assemble_plan(-1, plan, updated))
                return failure(write_outcome::read_failed, EIO);
            return create_output(where, updated.data(), updated.size(), true);
        });
}

// Keeps a file size limit from ending the process half-way through a write:
// the write fails instead, and the failure is undone.
class size_limit_fails_writes {
  public:
    size_limit_fails_writes() : previous_(std::signal(SIGXFSZ, SIG_IGN)) {}
    ~size_limit_fails_writes()
    {
        if (previous_ != SIG_ERR)
            std::signal(SIGXFSZ, previous_);
    }
    size_limit_fails_writes(const size_limit_fails_writes&) = delete;
    size_limit_fails_writes& operator=(const size_limit_fails_writes&) = delete;

  private:
    void (*previous_)(int);
};

write_result with_reason(const step& outcome)
{
    if (outcome.outcome == write_outcome::written || outcome.outcome == write_outcome::declined)
        return {outcome.outcome, {}};
    return {outcome.outcome, std::strerror(outcome.error != 0 ? outcome.error : EIO)};
}

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                          bool append, sync_mode sync)
{
    const size_limit_fails_writes guard;
    const bool durable = sync == sync_mode::durable;
    return with_reason(append ? append_output(path, bytes, count, durable)
                              : replace_output(path, bytes, count, durable));
}

write_result write_new(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                       sync_mode sync)
{
    const size_limit_fails_writes guard;
    return with_reason(create_new(path, bytes, count, sync == sync_mode::durable));
}

write_result update_output(const std::string& path, bool create, const image_transform& transform,
                           sync_mode sync)
{
    const size_limit_fails_writes guard;
    return with_reason(update_at(path, create, transform, sync == sync_mode::durable));
}

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
    file.handle = fd;
    file.open = true;
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

read_result open_input_stream(const std::string& path, input_stream& stream)
{
    stream = input_stream{};
    if (path == "-") {
        stream.handle = STDIN_FILENO;
    } else {
        stream.handle = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (stream.handle < 0)
            return {read_outcome::open_failed, std::strerror(errno)};
        stream.owned = true;
    }
    struct stat info {};
    if (fstat(stream.handle, &info) == 0 && S_ISREG(info.st_mode)) {
        stream.regular = true;
        stream.size = static_cast<std::uint64_t>(info.st_size);
        // Read once from start to end: the kernel may read ahead further.
        posix_fadvise(stream.handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    } else if (S_ISDIR(info.st_mode)) {
        close_input_stream(stream);
        return {read_outcome::read_failed, std::strerror(EISDIR)};
    }
    return {};
}

read_result read_input_stream(input_stream& stream, std::uint8_t* into, std::size_t room,
                              std::size_t& got)
{
    got = 0;
    for (;;) {
        const ssize_t count = read(stream.handle, into, room);
        if (count >= 0) {
            got = static_cast<std::size_t>(count);
            return {};
        }
        if (errno != EINTR)
            return {read_outcome::read_failed, std::strerror(errno)};
    }
}

void close_input_stream(input_stream& stream)
{
    if (stream.owned && stream.handle >= 0)
        close(stream.handle);
    stream = input_stream{};
}

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

bool make_folders(const std::string& path, sync_mode sync, std::string& reason)
{
    for (std::size_t end = path.find_first_not_of('/'); end != std::string::npos;) {
        end = path.find('/', end);
        const std::string part = path.substr(0, end);
        if (end != std::string::npos)
            end = path.find_first_not_of('/', end);
        if (mkdir(part.c_str(), 0777) == 0) {
            if (sync == sync_mode::fast)
                continue;
            const std::string parent = split_path(part).folder;
            const int fd =
                open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | open_flags);
            const bool synced = fd >= 0 && sync_to_disk(fd);
            const int error = errno;
            if (fd >= 0)
                close(fd);
            if (!synced) {
                reason = std::strerror(error);
                return false;
            }
            continue;
        }
        struct stat state {};
        const int error = errno;
        if (error == EEXIST && stat(part.c_str(), &state) == 0 && S_ISDIR(state.st_mode))
            continue;
        reason = std::strerror(error == EEXIST ? ENOTDIR : error);
        return false;
    }
    return true;
}
