#include "io/files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr int open_flags = O_NOCTTY | O_CLOEXEC;

// How often a write starts over because another run renamed a new image over
// the output, or removed a file it had created, while this one waited for the
// lock; every start-over needs such a run to have finished in between.
constexpr int max_attempts = 1000;

// Writes all `count` bytes at the descriptor's position, or from offset `at`
// when that is not negative; a short write goes on where it stopped. False
// (with errno set) on the first failure.
bool write_all(int fd, const std::uint8_t* bytes, std::size_t count, off_t at = -1)
{
    while (count > 0) {
        ssize_t done = at < 0 ? write(fd, bytes, count) : pwrite(fd, bytes, count, at);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<std::size_t>(done);
        if (at >= 0)
            at += done;
    }
    return true;
}

// Reads the whole file open on `fd` from its start.
bool read_whole(int fd, std::vector<std::uint8_t>& contents)
{
    // Read straight into room for the whole file (and a byte more, to see its
    // end), not through a growing buffer that copies the image as it grows.
    struct stat info {};
    std::size_t room = 65536;
    if (fstat(fd, &info) == 0 && info.st_size > 0)
        room = static_cast<std::size_t>(info.st_size) + 1;
    contents.resize(room);
    std::size_t size = 0;
    for (;;) {
        if (size == contents.size())
            contents.resize(size * 2);
        const ssize_t got =
            pread(fd, contents.data() + size, contents.size() - size, static_cast<off_t>(size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            contents.resize(size);
            return got == 0;
        }
        size += static_cast<std::size_t>(got);
    }
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
// waits here. Where the file system offers no locks the run goes on without.
void lock_file(int fd)
{
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Whether `path` still names the file open on `fd`, whose state is then in
// `state`: while this run waited for the lock, another may have renamed a new
// image over the name or removed a file it had created and failed to fill.
bool still_named(int fd, const std::string& path, struct stat& state)
{
    struct stat named {};
    return fstat(fd, &state) == 0 && stat(path.c_str(), &named) == 0 &&
           named.st_dev == state.st_dev && named.st_ino == state.st_ino;
}

// The common tail of every change to a regular output: waits for the lock on
// `fd`, holds the signals, and runs `work` on the file's state if `path`
// still names it; closes `fd` either way. Nothing (so that the caller starts
// over) when the name has gone to another file meanwhile, or when `work`
// itself asks for that.
template <typename Work>
std::optional<write_outcome> under_lock(int fd, const std::string& path, struct stat& state,
                                        Work work)
{
    lock_file(fd);
    sigset_t previous = hold_signals();
    std::optional<write_outcome> outcome;
    if (still_named(fd, path, state) && S_ISREG(state.st_mode))
        outcome = work(static_cast<const struct stat&>(state));
    close(fd);
    release_signals(previous);
    return outcome;
}

std::optional<std::string> resolve(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// Removes the file that `path` leads to (through any links): one this run
// created and could not fill.
void remove_target(const std::string& path)
{
    if (std::optional<std::string> target = resolve(path))
        unlink(target->c_str());
}

// A path as its folder (up to and with the last '/', empty for none) and the
// name after it.
struct path_parts {
    std::string folder;
    std::string name;
};

path_parts split_path(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Creates a new file with `mode` beside `where.name`, under a hidden unique
// name that is left in `temp_path`; -1 when none can be made there.
int create_temp(const path_parts& where, mode_t mode, std::string& temp_path)
{
    // A long name is cut, so that the temporary one stays within the limit.
    const std::string stem = where.folder + "." + where.name.substr(0, 200) + ".";
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
        temp_path = stem;
        for (int i = 0; i < 6; ++i, mixed /= 62)
            temp_path += letters[mixed % 62];
        int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | open_flags, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

enum class temp_outcome {
    renamed,
    use_in_place, // the folder had no room for a second copy, or refused the rename
    failed,
};

// Fills the temporary file open on `fd`, closes it and renames it to
// `target`. On failure the temporary file is removed again.
temp_outcome fill_and_rename(int fd, const std::string& temp_path, const std::string& target,
                             const std::uint8_t* bytes, std::size_t count)
{
    bool filled = write_all(fd, bytes, count);
    int error = filled ? 0 : errno;
    if (close(fd) != 0 && filled) {
        filled = false;
        error = errno;
    }
    if (filled && rename(temp_path.c_str(), target.c_str()) == 0)
        return temp_outcome::renamed;
    unlink(temp_path.c_str());
    if (filled || error == ENOSPC || error == EDQUOT)
        return temp_outcome::use_in_place;
    return temp_outcome::failed;
}

// Gives the temporary file the old file's owner, group and permission bits;
// false when this process may not.
bool take_attributes(int fd, const struct stat& old)
{
    struct stat now {};
    if (fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// Writes the old image back over the first `count` bytes of the file open on
// `fd` and cuts the file to the old length.
bool put_back(int fd, const std::vector<std::uint8_t>& old, std::size_t count)
{
    bool restored = write_all(fd, old.data(), std::min(old.size(), count), 0);
    return ftruncate(fd, static_cast<off_t>(old.size())) == 0 && restored;
}

// Overwrites the regular file open on `fd` where it lies. The old contents are
// kept in memory and written back if the new image does not go in whole; the
// file is cut to its new length only at the end, so the old blocks stay
// allocated and writing them back needs no room the file did not have. A file
// that this run may write but not read cannot be kept: with `must_keep` it is
// then left alone, otherwise it is written without that safety net.
write_outcome rewrite_in_place(int fd, const std::uint8_t* bytes, std::size_t count, bool must_keep)
{
    std::vector<std::uint8_t> old;
    bool kept = read_whole(fd, old);
    if (!kept && must_keep)
        return write_outcome::write_failed;
    if (write_all(fd, bytes, count, 0) && ftruncate(fd, static_cast<off_t>(count)) == 0)
        return write_outcome::written;
    if (kept)
        put_back(fd, old, count);
    return write_outcome::write_failed;
}

// Replaces the existing regular file open (and locked) on `fd`, whose state is
// `old`: a new image in a temporary file beside the final target, renamed over
// it once whole. Where the rename would not give the same file (other names
// for it, an owner this process cannot give, a folder without room or without
// write permission) the file is rewritten in place instead.
write_outcome replace_regular(int fd, const std::string& path, const struct stat& old,
                              const std::uint8_t* bytes, std::size_t count)
{
    if (old.st_nlink > 1)
        return rewrite_in_place(fd, bytes, count, false);
    std::optional<std::string> target = resolve(path);
    std::string temp_path;
    int temp = target ? create_temp(split_path(*target), 0600, temp_path) : -1;
    if (temp < 0)
        return rewrite_in_place(fd, bytes, count, false);
    if (!take_attributes(temp, old)) {
        close(temp);
        unlink(temp_path.c_str());
        return rewrite_in_place(fd, bytes, count, false);
    }
    switch (fill_and_rename(temp, temp_path, *target, bytes, count)) {
    case temp_outcome::renamed: return write_outcome::written;
    case temp_outcome::use_in_place: return rewrite_in_place(fd, bytes, count, true);
    case temp_outcome::failed: break;
    }
    return write_outcome::write_failed;
}

// Writes where the output lies, as a plain open for writing does: devices,
// pipes and terminals (a replaced one must be positionable), a link to a file
// that is not there yet, and paths that cannot be opened at all, which fail
// here before anything is written.
write_outcome write_in_place(const std::string& path, const std::uint8_t* bytes, std::size_t count)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | open_flags, 0666);
    if (fd < 0)
        return write_outcome::open_failed;
    if (lseek(fd, 0, SEEK_SET) < 0) {
        close(fd);
        return write_outcome::access_failed;
    }
    // A regular file here was created just now at the end of a link: it goes
    // again if it cannot be filled. A device or a pipe may wait for its
    // reader, so an interrupt must still end the run there.
    struct stat state {};
    const bool regular = fstat(fd, &state) == 0 && S_ISREG(state.st_mode);
    sigset_t previous{};
    if (regular)
        previous = hold_signals();
    bool written = write_all(fd, bytes, count);
    written = close(fd) == 0 && written;
    if (regular) {
        if (!written)
            remove_target(path);
        release_signals(previous);
    }
    return written ? write_outcome::written : write_outcome::write_failed;
}

// Makes an output that does not exist yet: the image goes into a temporary
// file beside it, renamed to the output's name once whole. Nothing when the
// name was taken meanwhile; the caller then looks again.
std::optional<write_outcome> create_output(const std::string& path, const std::uint8_t* bytes,
                                           std::size_t count)
{
    path_parts where = split_path(path);
    if (where.name.empty() || where.name == "." || where.name == "..")
        return write_in_place(path, bytes, count);
    sigset_t previous = hold_signals();
    std::optional<write_outcome> outcome;
    std::string temp_path;
    int fd = create_temp(where, 0666, temp_path);
    if (fd >= 0) {
        bool renamed = fill_and_rename(fd, temp_path, path, bytes, count) == temp_outcome::renamed;
        outcome = renamed ? write_outcome::written : write_outcome::write_failed;
    } else {
        // The folder refused the temporary name; the output's own name shows
        // whether it can be created at all.
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | open_flags, 0666);
        if (fd >= 0) {
            bool written = write_all(fd, bytes, count);
            written = close(fd) == 0 && written;
            if (!written)
                unlink(path.c_str());
            outcome = written ? write_outcome::written : write_outcome::write_failed;
        } else if (errno != EEXIST) {
            outcome = write_outcome::open_failed;
        }
    }
    release_signals(previous);
    return outcome;
}

write_outcome replace_output(const std::string& path, const std::uint8_t* bytes, std::size_t count)
{
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        struct stat state {};
        if (stat(path.c_str(), &state) != 0) {
            struct stat link {};
            const bool absent = errno == ENOENT && lstat(path.c_str(), &link) != 0;
            if (!absent)
                return write_in_place(path, bytes, count);
            if (std::optional<write_outcome> outcome = create_output(path, bytes, count))
                return *outcome;
            continue;
        }
        if (!S_ISREG(state.st_mode))
            return write_in_place(path, bytes, count);
        // Opened without truncating: only to learn that the run may write the
        // file (as a plain open for writing would), to lock it, and to rewrite
        // it in place where a rename would not do.
        int fd = open(path.c_str(), O_RDWR | open_flags);
        if (fd < 0 && errno == EACCES)
            fd = open(path.c_str(), O_WRONLY | open_flags);
        if (fd < 0 && errno == ENOENT)
            continue;
        if (fd < 0)
            return write_outcome::open_failed;
        std::optional<write_outcome> outcome =
            under_lock(fd, path, state, [&](const struct stat& locked) {
                return std::optional<write_outcome>(
                    replace_regular(fd, path, locked, bytes, count));
            });
        if (outcome)
            return *outcome;
    }
    return write_outcome::open_failed;
}

// Opens `path` for appending, creating it if missing; `created` tells whether
// this run made it.
int open_for_append(const std::string& path, bool& created)
{
    const int flags = O_WRONLY | O_APPEND | open_flags;
    created = true;
    int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST)
        return fd;
    created = false;
    fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    // A link to a file that is not there yet (or one removed just now).
    fd = open(path.c_str(), flags | O_CREAT, 0666);
    created = fd >= 0;
    return fd;
}

write_outcome append_output(const std::string& path, const std::uint8_t* bytes, std::size_t count)
{
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        bool created = false;
        int fd = open_for_append(path, created);
        if (fd < 0)
            return write_outcome::open_failed;
        struct stat state {};
        if (fstat(fd, &state) == 0 && !S_ISREG(state.st_mode)) {
            // A device or a pipe takes the bytes as they come; nothing to undo.
            bool written = write_all(fd, bytes, count);
            close(fd);
            return written ? write_outcome::written : write_outcome::write_failed;
        }
        std::optional<write_outcome> outcome =
            under_lock(fd, path, state, [&](const struct stat& locked) {
                // One write, so that the image goes in whole; the length
                // measured under the lock is where a failed write is cut back
                // to, which takes away this run's bytes and nobody else's.
                if (write_all(fd, bytes, count))
                    return std::optional<write_outcome>(write_outcome::written);
                const bool cut = ftruncate(fd, locked.st_size) == 0;
                // Still under the lock, so that a run waiting for it sees the
                // name gone and starts over.
                if (cut && created && locked.st_size == 0)
                    remove_target(path);
                return std::optional<write_outcome>(write_outcome::write_failed);
            });
        if (outcome)
            return *outcome;
    }
    return write_outcome::open_failed;
}

// One try at update_output; nothing when the file changed under it (a
// rename by another run, a file made or removed meanwhile) and the caller
// should look again.
std::optional<write_outcome> update_once(const std::string& path, bool create,
                                         const image_transform& transform)
{
    bool created = false;
    int fd = -1;
    if (create) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | open_flags, 0666);
        created = fd >= 0;
        if (fd < 0 && errno != EEXIST)
            return write_outcome::open_failed;
    }
    if (fd < 0)
        fd = open(path.c_str(), O_RDWR | open_flags);
    if (fd < 0 && errno == ENOENT && create) {
        // A link to a file that is not there yet (or one removed just now).
        fd = open(path.c_str(), O_RDWR | O_CREAT | open_flags, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            return std::nullopt;
    }
    if (fd < 0)
        return write_outcome::open_failed;
    struct stat state {};
    if (fstat(fd, &state) != 0 || !S_ISREG(state.st_mode)) {
        close(fd);
        return write_outcome::open_failed;
    }
    return under_lock(fd, path, state, [&](const struct stat& locked) {
        std::vector<std::uint8_t> old;
        std::vector<std::uint8_t> updated;
        write_outcome outcome = write_outcome::read_failed;
        if (read_whole(fd, old))
            outcome = transform(old, !created, updated)
                          ? replace_regular(fd, path, locked, updated.data(), updated.size())
                          : write_outcome::declined;
        // Still under the lock, so that a run waiting for it sees the name
        // gone and starts over.
        if (created && outcome != write_outcome::written)
            remove_target(path);
        return std::optional<write_outcome>(outcome);
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

// The outcome with the system's words for the failure that errno holds.
write_result with_reason(write_outcome outcome)
{
    const int error = errno;
    if (outcome == write_outcome::written || outcome == write_outcome::declined)
        return {outcome, {}};
    return {outcome, std::strerror(error != 0 ? error : EIO)};
}

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                          bool append)
{
    const size_limit_fails_writes guard;
    errno = 0;
    return with_reason(append ? append_output(path, bytes, count)
                              : replace_output(path, bytes, count));
}

write_result update_output(const std::string& path, bool create, const image_transform& transform)
{
    const size_limit_fails_writes guard;
    errno = 0;
    for (int attempt = 0; attempt < max_attempts; ++attempt)
        if (std::optional<write_outcome> outcome = update_once(path, create, transform))
            return with_reason(*outcome);
    return with_reason(write_outcome::open_failed);
}

std::FILE* open_input_file(const std::string& path)
{
    struct stat state {};
    if (stat(path.c_str(), &state) == 0 && S_ISDIR(state.st_mode))
        return nullptr;
    return std::fopen(path.c_str(), "rb");
}

read_result read_whole_file(const std::string& path, std::size_t limit,
                            std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    size = 0;
    const int fd = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {read_outcome::open_failed, std::strerror(errno)};
    // A regular file is read with one read into a buffer one byte larger than
    // the file, the second read confirming its end.
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= limit &&
        buffer.size() <= static_cast<std::size_t>(info.st_size))
        buffer.resize(static_cast<std::size_t>(info.st_size) + 1);
    if (buffer.size() < 65536)
        buffer.resize(65536);
    for (;;) {
        if (size > limit) {
            close(fd);
            return {read_outcome::too_large, {}};
        }
        if (size == buffer.size())
            buffer.resize(std::min(size * 2, limit + 1));
        const ssize_t got = read(fd, buffer.data() + size, buffer.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            close(fd);
            return {read_outcome::read_failed, std::strerror(error)};
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    close(fd);
    return {};
}

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
