// The steps of a change, the same on every platform over its primitives.
#include "io/write_steps.h"

#include "io/rollback.h"
#include "io/write_policy.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

namespace cassmak::core {

namespace write_steps {

using write_policy::max_attempts;

namespace {

std::atomic<bool> owned{false};

} // namespace

bool process_owned()
{
    return owned.load();
}

bool over_copy(bool have_lock)
{
    return have_lock && !process_owned();
}

std::string temp_stem(const std::string& name)
{
    return "." + name.substr(0, 200) + ".";
}

step failure(write_outcome outcome, int error)
{
    return {outcome, error != 0 ? error : EIO};
}

write_result with_reason(const step& outcome)
{
    if (outcome.outcome == write_outcome::written || outcome.outcome == write_outcome::declined)
        return {outcome.outcome, {}};
    return {outcome.outcome, platform::fault_words(outcome.error != 0 ? outcome.error : EIO)};
}

bool sync_written(handle file, bool durable)
{
    return !durable || platform::sync_to_disk(file);
}

int close_written(handle file, bool filled)
{
    const int fault = platform::last_fault();
    const int error = filled ? 0 : fault != 0 ? fault : EIO;
    if (!platform::close_handle(file) && filled)
        return platform::last_fault();
    return error;
}

bool write_all(handle file, const std::uint8_t* bytes, std::size_t count)
{
    std::size_t done = 0;
    return platform::write_at(file, bytes, count, platform::at_position, done);
}

namespace {

enum class buffered { copied, failed, no_buffer };

// Copies through a page-aligned buffer, in pieces that end on the target's
// page boundaries, so that each write fills whole pages of the new file;
// no_buffer, with nothing copied, where the buffer cannot be had.
buffered copy_through_buffer(handle from, std::uint64_t at, std::uint64_t count, handle to,
                             std::uint64_t to_at, std::size_t page)
{
    const std::size_t size = write_policy::copy_buffer;
    const std::unique_ptr<std::uint8_t[]> room(new (std::nothrow) std::uint8_t[size + page]);
    if (!room)
        return buffered::no_buffer;
    void* start = room.get();
    std::size_t space = size + page;
    std::uint8_t* buffer = static_cast<std::uint8_t*>(std::align(page, size, start, space));
    std::uint64_t since_start = 0;
    while (count > 0) {
        const std::uint64_t to_boundary = size - static_cast<std::size_t>(to_at % page);
        const auto part = static_cast<std::size_t>(std::min(count, to_boundary));
        std::size_t done = 0;
        if (!platform::read_at(from, buffer, part, at) ||
            !platform::write_at(to, buffer, part, platform::at_position, done))
            return buffered::failed;
        at += part;
        to_at += part;
        count -= part;
        since_start += part;
        if (since_start >= write_policy::copy_step) {
            platform::start_writing(to);
            since_start = 0;
        }
    }
    platform::start_writing(to);
    return buffered::copied;
}

} // namespace

bool copy_kept(handle from, std::uint64_t at, std::uint64_t count, handle to, std::uint64_t to_at)
{
    // Measured (processor time) copying 125 MiB on ext4: through the system
    // 43 ms where the offsets agree modulo a page, 57 ms where they do not,
    // through the buffer 50 ms; on tmpfs 75, 85 and 95 ms.
    const std::size_t page = platform::page_size();
    if (at % page != to_at % page && !platform::copies_unaligned_fast(to)) {
        const buffered outcome = copy_through_buffer(from, at, count, to, to_at, page);
        if (outcome != buffered::no_buffer)
            return outcome == buffered::copied;
    }
    while (count > 0) {
        const std::uint64_t part = std::min(count, write_policy::copy_step);
        if (!platform::copy_range(from, at, part, to))
            return false;
        platform::start_writing(to);
        at += part;
        count -= part;
    }
    return true;
}

path_parts split_path(const std::string& path)
{
    const auto separator = std::find_if(path.rbegin(), path.rend(), is_path_separator);
    if (separator == path.rend())
        return {"", path};
    const auto cut = static_cast<std::size_t>(path.rend() - separator);
    return {path.substr(0, cut), path.substr(cut)};
}

bool not_a_name(const std::string& name)
{
    return name.empty() || name == "." || name == "..";
}

place::~place()
{
    if (folder != platform::no_handle)
        platform::close_handle(folder);
}

found find_place(const std::string& path, bool exists, place& where, int& error)
{
    const path_parts parts = split_path(platform::final_name(path));
    if (not_a_name(parts.name))
        return found::not_a_name;
    where.name = parts.name;
    if (!platform::open_folder(parts.folder, where.folder)) {
        error = platform::last_fault();
        return exists ? found::not_a_name : found::failed;
    }
    if (exists && platform::name_missing(where.folder, where.name))
        return found::not_a_name;
    return found::place;
}

output_kind kind_of(const std::string& path, int& why)
{
    switch (platform::state_of(path)) {
    case platform::path_state::regular: why = ENOTSUP; return output_kind::regular;
    case platform::path_state::folder: why = EISDIR; return output_kind::other;
    case platform::path_state::other: why = ENOTSUP; return output_kind::other;
    // Missing, or a link to a file that is not there yet; anything else (no
    // permission, a file where a folder should be) fails as a plain open does.
    case platform::path_state::missing: why = ENOENT; return output_kind::absent;
    case platform::path_state::failed: break;
    }
    why = platform::last_fault();
    return output_kind::other;
}

namespace {

// Writes where the output lies, as a plain open for writing does: devices,
// pipes and terminals (a replaced one must be positionable, unless
// `streamed` takes it as it comes), and paths that cannot be opened at all,
// which fail here before anything is written.
step write_in_place(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                    bool append, bool durable, bool* streamed)
{
    handle file = platform::no_handle;
    if (!platform::open_for_writing(path, append, file))
        return failure(write_outcome::open_failed, platform::last_fault());
    // Streamed in the one open: the reader of a FIFO that saw an open closed
    // again would take it for the end, and be gone before a second one.
    if (!append && !platform::seek_start(file)) {
        if (streamed) {
            *streamed = true;
        } else {
            const int error = platform::last_fault();
            platform::close_handle(file);
            return failure(write_outcome::access_failed, error);
        }
    }
    // A device or a pipe may wait for its reader, so an interrupt must still
    // end the run here.
    const int error =
        close_written(file, write_all(file, bytes, count) && sync_written(file, durable));
    return error == 0 ? written : failure(write_outcome::write_failed, error);
}

// The common tail of every change to an existing regular output: waits for
// the lock on `file`, holds the signals, and runs `work` on the file's facts
// (and whether the lock was had) if `where` still names it; closes `file`
// either way. Nothing, so that the caller starts over, when the name has gone
// to another file meanwhile.
std::optional<step> under_lock(handle file, bool readable, const place& where,
                               const locked_work& work)
{
    // Signals are not held yet, so an interrupt still ends a run that waits
    // for the lock; where the file system offers none, the run goes on
    // without one.
    const bool locked = platform::lock_file(file);
    const platform::signals_held held(process_owned());
    std::optional<step> outcome;
    platform::file_facts facts;
    if (platform::still_named(file, where.folder, where.name, facts) && facts.regular) {
        // What a run cut short left is cleared only under the lock, which
        // says that no other run is at work on the file.
        int error = 0;
        if (locked && !rollback::clear_leftovers(file, where, facts, error))
            outcome = failure(write_outcome::write_failed, error);
        else
            outcome = work(file, readable, facts, locked);
    }
    platform::close_handle(file);
    return outcome;
}

// Creates a new file in the place's folder, under a hidden unique name beside
// the place's name that is left in `temp_name`; false when none can be made
// there. It is locked for as long as `keeper` is open, so that a change that
// finds it knows whether its maker is still at work.
bool create_temp(const place& where, platform::new_file_access access, std::string& temp_name,
                 handle& file, handle& keeper)
{
    const std::string stem = temp_stem(where.name);
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t seed = platform::name_seed();
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        seed += 0x9E3779B97F4A7C15U;
        std::uint64_t mixed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9U;
        mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBU;
        mixed ^= mixed >> 31;
        temp_name = stem;
        for (std::size_t i = 0; i < temp_letters; ++i, mixed /= 62)
            temp_name += letters[mixed % 62];
        if (platform::create_new_at(where.folder, temp_name, access, file)) {
            // Where nothing can lock it, nothing removes it either.
            platform::lock_new_file(file, keeper);
            return true;
        }
        if (platform::last_fault() != EEXIST)
            return false;
    }
    return false;
}

// Closes a new file's keeper, and so frees its lock, at the end of a scope.
struct kept_lock {
    explicit kept_lock(handle held) : keeper(held) {}
    handle keeper;
    kept_lock(const kept_lock&) = delete;
    kept_lock& operator=(const kept_lock&) = delete;
    ~kept_lock()
    {
        if (keeper != platform::no_handle)
            platform::close_handle(keeper);
    }
};

enum class temp_outcome {
    renamed,
    use_in_place, // the folder had no room for a second copy, or refused the rename
    taken,        // an exclusive rename found the name taken; nothing changed
    refused,      // the old file refuses to be replaced, or changed at all
    failed,
};

// Renames the temporary file to the place's name; with `exclusive`, only if
// that name is still free (taken otherwise, and the temporary file stays).
temp_outcome rename_into_place(const place& where, const std::string& temp_name, bool exclusive)
{
    if (!exclusive) {
        switch (platform::rename_over(where.folder, temp_name, where.name)) {
        case platform::replacing_rename::renamed: return temp_outcome::renamed;
        case platform::replacing_rename::refused: return temp_outcome::use_in_place;
        case platform::replacing_rename::refused_for_good: return temp_outcome::refused;
        }
    }
    switch (platform::rename_exclusive(where.folder, temp_name, where.name)) {
    case platform::exclusive_rename::renamed: return temp_outcome::renamed;
    case platform::exclusive_rename::taken: return temp_outcome::taken;
    case platform::exclusive_rename::refused: break;
    }
    return temp_outcome::use_in_place;
}

// Renames the temporary file, written and closed (`error` saying why not),
// into place. On any outcome but renamed it is removed again.
step finish_temp(const place& where, const std::string& temp_name, int error, bool exclusive,
                 temp_outcome& how)
{
    how = error == 0 ? rename_into_place(where, temp_name, exclusive) : temp_outcome::failed;
    if (how == temp_outcome::use_in_place || how == temp_outcome::refused)
        error = platform::last_fault();
    if (how != temp_outcome::renamed)
        platform::remove_at(where.folder, temp_name);
    // No room for a second copy: the old file's own room may still do.
    if (how == temp_outcome::failed && platform::out_of_room(error))
        how = temp_outcome::use_in_place;
    if (how == temp_outcome::refused)
        return failure(write_outcome::open_failed, error);
    if (how != temp_outcome::renamed)
        return failure(write_outcome::write_failed, error);
    // The new name is on the disk only once the folder is.
    return sync_written(where.folder, where.durable)
               ? written
               : failure(write_outcome::unsynced, platform::last_fault());
}

} // namespace

std::optional<step> place_of(const std::string& path, output_kind kind, place& where,
                             const std::uint8_t* bytes, std::size_t count, bool append,
                             bool* streamed)
{
    int error = 0;
    switch (kind == output_kind::other
                ? found::not_a_name
                : find_place(path, kind == output_kind::regular, where, error)) {
    case found::place: return std::nullopt;
    case found::not_a_name:
        return write_in_place(path, bytes, count, append, where.durable, streamed);
    case found::failed: break;
    }
    return failure(write_outcome::open_failed, error);
}

step at_place(const place& where, const locked_work& work, const create_work& create)
{
    int error = 0;
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        bool readable = true;
        handle file = platform::no_handle;
        if (!platform::open_at(where.folder, where.name, file, readable)) {
            if (platform::last_fault() == ENOENT) {
                if (std::optional<step> outcome = create())
                    return *outcome;
                continue;
            }
            // A link, or something else, put at the resolved name since: it is
            // not followed; a run that replaced it may soon be done.
            error = platform::last_fault();
            if (error != ELOOP)
                return failure(write_outcome::open_failed, error);
            continue;
        }
        if (std::optional<step> outcome = under_lock(file, readable, where, work))
            return *outcome;
        error = EAGAIN;
    }
    return failure(write_outcome::open_failed, error);
}

std::optional<step> replace_by_rename(handle file, const place& where, const fill_work& fill,
                                      bool& written_first)
{
    written_first = false;
    std::string temp_name;
    handle temp = platform::no_handle;
    handle keeper = platform::no_handle;
    if (!create_temp(where, platform::new_file_access::owner_only, temp_name, temp, keeper))
        return std::nullopt;
    const kept_lock kept{keeper};
    // The new file must not widen (or narrow) what others may do with it.
    if (!platform::take_attributes(temp, file)) {
        platform::close_handle(temp);
        platform::remove_at(where.folder, temp_name);
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

// Only the part that the new image covers is kept, in memory, and written
// back if the new image does not go in whole: the file is cut to its new
// length only at the end, so the rest of the old image is never touched until
// then, and writing back needs no room the file did not have. Between the
// write and the cut the file holds the new image followed by the old image's
// tail, a window of one system call. A file that this run may write but not
// read cannot be kept: with `must_keep` it is then left alone, otherwise it
// is written without that safety net.
//
// A run that may end at any instant (a library call in a host program)
// first copies the whole old image beside the file (within the system, not
// through memory), and removes the copy once the file is whole again; the
// next change under the lock writes back a copy it finds, so that the file
// is never left torn.
step rewrite_in_place(handle file, bool readable, const place& where, bool have_lock,
                      const std::uint8_t* bytes, std::size_t count, bool must_keep)
{
    const bool durable = where.durable;
    platform::file_facts facts;
    if (!platform::facts_of(file, facts))
        return failure(write_outcome::write_failed, platform::last_fault());
    const std::uint64_t old_size = facts.size;
    std::vector<std::uint8_t> kept(
        static_cast<std::size_t>(std::min<std::uint64_t>(old_size, count)));
    const bool keep = readable && platform::read_at(file, kept.data(), kept.size(), 0);
    if (!keep && (must_keep || !process_owned()))
        return failure(write_outcome::write_failed, readable ? platform::last_fault() : EACCES);
    const bool copied = over_copy(have_lock);
    int error = 0;
    if (copied && !rollback::make_copy(file, where, facts, old_size, error))
        return failure(write_outcome::write_failed, error);
    std::size_t done = 0;
    if (platform::write_at(file, bytes, count, 0, done) &&
        (old_size <= count || platform::truncate_to(file, count)) && sync_written(file, durable))
        return !copied || rollback::drop_copy(where)
                   ? written
                   : failure(write_outcome::unsynced, platform::last_fault());
    error = platform::last_fault();
    if (keep) {
        // The copy goes only once the file holds the old image again.
        const bool back = platform::write_at(file, kept.data(), kept.size(), 0, done);
        if (platform::truncate_to(file, old_size) && back && sync_written(file, durable) &&
            copied && !rollback::drop_copy(where)) {
            // The failure is reported either way.
        }
    }
    return failure(write_outcome::write_failed, error);
}

std::optional<step> create_output(const place& where, const std::uint8_t* bytes, std::size_t count,
                                  bool exclusive)
{
    const platform::signals_held held(process_owned());
    std::string temp_name;
    handle file = platform::no_handle;
    handle keeper = platform::no_handle;
    if (create_temp(where, platform::new_file_access::everyone, temp_name, file, keeper)) {
        const kept_lock kept{keeper};
        const int error =
            close_written(file, write_all(file, bytes, count) && sync_written(file, where.durable));
        temp_outcome how{};
        const step outcome = finish_temp(where, temp_name, error, exclusive, how);
        if (how != temp_outcome::use_in_place) {
            if (how == temp_outcome::taken)
                return std::nullopt;
            return outcome;
        }
    }
    // The folder refused the temporary name, or the rename; the output's own
    // name shows whether it can be made at all.
    if (!platform::create_new_at(where.folder, where.name, platform::new_file_access::everyone,
                                 file)) {
        const int error = platform::last_fault();
        if (error == EEXIST)
            return std::nullopt;
        return failure(write_outcome::open_failed, error);
    }
    const int error =
        close_written(file, write_all(file, bytes, count) && sync_written(file, where.durable));
    if (error != 0) {
        platform::remove_at(where.folder, where.name);
        return failure(write_outcome::write_failed, error);
    }
    if (!sync_written(where.folder, where.durable))
        return failure(write_outcome::unsynced, platform::last_fault());
    return written;
}

} // namespace write_steps

void hold_signals_over_changes()
{
    write_steps::owned.store(true);
}

} // namespace cassmak::core
