// write_output and write_new, the same on every platform: the choice between
// a rename, a rewrite in place and an append, over the steps of
// write_steps.h.
#include "io/files.h"
#include "io/platform.h"
#include "io/rollback.h"
#include "io/write_steps.h"

#include <cerrno>

namespace cassmak::core {

namespace {

using namespace write_steps;

// Replaces the existing regular file open (and locked) on `file`, whose facts
// are `old`, with a new image by a rename; a file with other names, or one
// the rename would not keep, is rewritten in place instead.
step replace_regular(handle file, bool readable, const place& where,
                     const platform::file_facts& old, bool have_lock, const std::uint8_t* bytes,
                     std::size_t count)
{
    bool written_first = false;
    if (old.links == 1)
        if (std::optional<step> outcome = replace_by_rename(
                file, where, [&](handle temp) { return write_all(temp, bytes, count); },
                written_first))
            return *outcome;
    // After a new file written in vain (no room for it, say) the old image is
    // rewritten in place only where it can be kept meanwhile.
    return rewrite_in_place(file, readable, where, have_lock, bytes, count, written_first);
}

step replace_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                    bool durable, bool* streamed = nullptr)
{
    int why = 0;
    place where;
    where.durable = durable;
    if (std::optional<step> instead =
            place_of(path, kind_of(path, why), where, bytes, count, false, streamed))
        return *instead;
    return at_place(
        where,
        [&](handle file, bool readable, const platform::file_facts& locked,
            bool have_lock) -> std::optional<step> {
            return replace_regular(file, readable, where, locked, have_lock, bytes, count);
        },
        [&] { return create_output(where, bytes, count, false); });
}

// Adds the bytes to the end of the file open on `file` where it lies. Under
// the lock the length measured there is where a failed write is cut back to,
// which takes away this run's bytes and nobody else's. Without a lock another
// run may append at the same time, so the bytes go in at the end as it is at
// each write, and a failed write is cut back only while the file still ends
// with them: bytes that another run added after them are never cut away.
// Over a copy (over_copy), the length is first written beside the file, so
// that the next change cuts back an append that was cut short.
step append_in_place(handle file, const place& where, const platform::file_facts& locked,
                     bool have_lock, const std::uint8_t* bytes, std::size_t count)
{
    const bool durable = where.durable;
    std::size_t done = 0;
    if (have_lock) {
        const bool copied = over_copy(have_lock);
        int error = 0;
        if (copied && !rollback::make_copy(file, where, locked, 0, error))
            return failure(write_outcome::write_failed, error);
        if (platform::write_at(file, bytes, count, static_cast<std::int64_t>(locked.size), done) &&
            sync_written(file, durable))
            return !copied || rollback::drop_copy(where)
                       ? written
                       : failure(write_outcome::unsynced, platform::last_fault());
        error = platform::last_fault();
        if (platform::truncate_to(file, locked.size) && sync_written(file, durable) && copied &&
            !rollback::drop_copy(where)) {
            // The failure is reported either way.
        }
        return failure(write_outcome::write_failed, error);
    }
    if (!platform::append_from_now(file))
        return failure(write_outcome::write_failed, platform::last_fault());
    if (platform::write_at(file, bytes, count, platform::at_position, done) &&
        sync_written(file, durable))
        return written;
    const int error = platform::last_fault();
    std::uint64_t end = 0;
    platform::file_facts now;
    if (platform::position_of(file, end) && done > 0 && end >= done &&
        platform::facts_of(file, now) && now.size == end &&
        !platform::truncate_to(file, end - done)) {
        // The failure is reported either way.
    }
    return failure(write_outcome::write_failed, error);
}

// Appends to the regular file open and locked on `file` the way a replace
// writes: the old image and the new bytes go into a temporary file beside it,
// renamed over it once whole, so that a run killed at any moment leaves the
// old image or the new one. Nothing when the rename cannot give the same file
// (see replace_regular); the bytes are then added in place.
std::optional<step> append_by_copy(handle file, const place& where, const platform::file_facts& old,
                                   const std::uint8_t* bytes, std::size_t count)
{
    bool written_first = false;
    return replace_by_rename(
        file, where,
        [&](handle temp) {
            return copy_kept(file, 0, old.size, temp, 0) && write_all(temp, bytes, count);
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
        [&](handle file, bool readable, const platform::file_facts& locked, bool have_lock) {
            // Without the lock two appends copying the same old image would
            // each drop the other's file; in place they both land.
            if (have_lock && readable && locked.links == 1)
                if (std::optional<step> outcome = append_by_copy(file, where, locked, bytes, count))
                    return outcome;
            return std::optional<step>(
                append_in_place(file, where, locked, have_lock, bytes, count));
        },
        [&] { return create_output(where, bytes, count, true); });
}

// Makes a new file at `path`, its own folder and name: a link there is not
// followed but holds the name, as any file does.
step create_new(const std::string& path, const std::uint8_t* bytes, std::size_t count, bool durable)
{
    const path_parts parts = split_path(path);
    if (not_a_name(parts.name))
        return failure(write_outcome::open_failed, EISDIR);
    place where;
    where.durable = durable;
    where.name = parts.name;
    if (!platform::open_folder(parts.folder, where.folder))
        return failure(write_outcome::open_failed, platform::last_fault());
    if (std::optional<step> outcome = create_output(where, bytes, count, true))
        return *outcome;
    return failure(write_outcome::exists, EEXIST);
}

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                          bool append, sync_mode sync)
{
    const platform::size_limit_fails_writes guard;
    const bool durable = sync == sync_mode::durable;
    return with_reason(append ? append_output(path, bytes, count, durable)
                              : replace_output(path, bytes, count, durable));
}

write_result write_or_stream(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                             sync_mode sync, bool& streamed)
{
    const platform::size_limit_fails_writes guard;
    streamed = false;
    return with_reason(replace_output(path, bytes, count, sync == sync_mode::durable, &streamed));
}

write_result write_new(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                       sync_mode sync)
{
    const platform::size_limit_fails_writes guard;
    return with_reason(create_new(path, bytes, count, sync == sync_mode::durable));
}

} // namespace cassmak::core
