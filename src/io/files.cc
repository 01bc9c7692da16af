#include "io/files.h"

#include "io/status.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Opens `path` and checks its length against the bounds; leaves the file
// positioned at its start. Returns the length or a reported failure, in which
// case the file is closed again.
int open_checked(const std::string& path, int min_length, int max_length, std::FILE*& file)
{
    file = nullptr;
    // A directory opens like a file on Linux, but what seeking and reading it
    // then give depends on the file system; it is simply not an input file.
    std::error_code ignored;
    if (!fs::is_directory(path, ignored))
        file = std::fopen(path.c_str(), "rb");
    if (!file)
        return report_status(status_input_open, path);
    int status = status_ok;
    long length = 0;
    // Both seeks fail alike, and the order of the checks is the point here.
    // NOLINTNEXTLINE(bugprone-branch-clone)
    if (std::fseek(file, 0, SEEK_END) != 0) {
        status = report_status(status_input_access, path);
    } else if ((length = std::ftell(file)) < 0) {
        status = report_status(status_input_length, path);
    } else if (length < min_length || length > max_length) {
        status = report_status(status_input_size, path, min_length, max_length);
    } else if (std::fseek(file, 0, SEEK_SET) != 0) {
        status = report_status(status_input_access, path);
    }
    if (status != status_ok) {
        std::fclose(file);
        file = nullptr;
        return status;
    }
    return static_cast<int>(length);
}

} // namespace

int load_input(const std::string& path, std::uint8_t* buffer, int min_length, int max_length)
{
    std::FILE* file = nullptr;
    int length = open_checked(path, min_length, max_length, file);
    if (length < 0)
        return length;
    std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    if (got != static_cast<std::size_t>(length))
        return report_status(status_input_read, path);
    return length;
}

int open_basic_source(const std::string& path, int min_length, int max_length,
                      std::FILE*& handle_out)
{
    return open_checked(path, min_length, max_length, handle_out);
}

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
    contents.clear();
    std::vector<std::uint8_t> chunk(65536);
    for (;;) {
        ssize_t got = pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(contents.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        contents.insert(contents.end(), chunk.begin(), chunk.begin() + got);
    }
}

// Holds the signals that end a run from outside (Ctrl-C, kill, a closed
// terminal) over a step that must finish once begun; they take effect when
// the step is done and the previous mask is back.
sigset_t hold_signals()
{
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
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
        lock_file(fd);
        sigset_t previous = hold_signals();
        std::optional<write_outcome> outcome;
        if (still_named(fd, path, state) && S_ISREG(state.st_mode))
            outcome = replace_regular(fd, path, state, bytes, count);
        close(fd);
        release_signals(previous);
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
        lock_file(fd);
        sigset_t previous = hold_signals();
        std::optional<write_outcome> outcome;
        if (still_named(fd, path, state)) {
            // One write, so that the image goes in whole; the length measured
            // under the lock is where a failed write is cut back to, which
            // takes away this run's bytes and nobody else's.
            outcome = write_outcome::written;
            if (!write_all(fd, bytes, count)) {
                outcome = write_outcome::write_failed;
                const bool cut = ftruncate(fd, state.st_size) == 0;
                // Still under the lock, so that a run waiting for it sees the
                // name gone and starts over.
                if (cut && created && state.st_size == 0)
                    remove_target(path);
            }
        }
        close(fd);
        release_signals(previous);
        if (outcome)
            return *outcome;
    }
    return write_outcome::open_failed;
}

} // namespace

write_outcome write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                           bool append)
{
    // A file size limit must fail the write, not end the process half-way.
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    write_outcome outcome =
        append ? append_output(path, bytes, count) : replace_output(path, bytes, count);
    if (previous != SIG_ERR)
        std::signal(SIGXFSZ, previous);
    return outcome;
}

int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append)
{
    std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
    switch (write_output(path, bytes, size, append)) {
    case write_outcome::written: return status_ok;
    case write_outcome::open_failed: return report_status(status_output_open, path);
    case write_outcome::access_failed: return report_status(status_output_access, path);
    case write_outcome::write_failed: break;
    }
    return report_status(status_output_write, path);
}
