// update_output, the same on every platform: the transform is handed the old
// image under the lock, and its plan is written as write_output replaces a
// file, over the steps of write_steps.h.
#include "io/files.h"
#include "io/platform.h"
#include "io/write_steps.h"

#include <cerrno>
#include <new>
#include <vector>

namespace cassmak::core {

namespace {

using namespace write_steps;

// Writes the pieces of a new image to the file open on `to`: new bytes as
// they are, spans of the old image (open on `from`) copied within the system.
bool write_plan(handle from, const std::vector<plan_piece>& plan, handle to)
{
    std::uint64_t to_at = 0;
    for (const plan_piece& piece : plan) {
        if (piece.bytes ? !write_all(to, piece.bytes, static_cast<std::size_t>(piece.count))
                        : !copy_kept(from, piece.from, piece.count, to, to_at))
            return false;
        to_at += piece.count;
    }
    return true;
}

// The bytes of a plan, for a file that is rewritten in place or made anew:
// spans of the old image read from the file open on `file` (none: every span
// fails). False, with the system's fault in `error`, when a read failed or
// memory ran out.
bool assemble_from(handle file, const std::vector<plan_piece>& plan, std::vector<std::uint8_t>& out,
                   int& error)
{
    const image_bytes_reader read = [&](std::uint64_t at, std::uint8_t* into, std::size_t count) {
        return file != platform::no_handle && platform::read_at(file, into, count, at);
    };
    try {
        if (assemble_plan(plan, read, out))
            return true;
        error = platform::last_fault();
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    return false;
}

// Calls the transform on the old image, which it reads from `file` of `size`
// bytes (no file: no_handle): the plan, or the step to give instead when the
// transform refused, a read of the old image failed or memory ran out.
std::optional<step> plan_update(handle file, std::uint64_t size, bool existed,
                                const image_transform& transform, std::vector<plan_piece>& plan)
{
    int read_error = 0;
    const bool have_file = file != platform::no_handle;
    const old_file old{size, [&](std::uint64_t at, std::uint8_t* into, std::size_t count) {
                           if (have_file && at <= size && count <= size - at &&
                               platform::read_at(file, into, count, at))
                               return true;
                           const int fault = platform::last_fault();
                           read_error = have_file && fault != 0 ? fault : EIO;
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

step update_existing(handle file, bool readable, const place& where,
                     const platform::file_facts& locked, bool have_lock, std::uint64_t largest,
                     const image_transform& transform)
{
    if (!readable)
        return failure(write_outcome::read_failed, EACCES);
    if (locked.size > largest)
        return failure(write_outcome::read_failed, EFBIG);
    std::vector<plan_piece> plan;
    if (std::optional<step> instead = plan_update(file, locked.size, true, transform, plan))
        return *instead;
    bool written_first = false;
    if (locked.links == 1)
        if (std::optional<step> outcome = replace_by_rename(
                file, where, [&](handle temp) { return write_plan(file, plan, temp); },
                written_first))
            return *outcome;
    // In place the new image must be whole in memory before the old one is
    // overwritten, as it is read from the old one.
    std::vector<std::uint8_t> updated;
    int error = 0;
    if (!assemble_from(file, plan, updated, error))
        return failure(write_outcome::read_failed, error);
    return rewrite_in_place(file, readable, where, have_lock, updated.data(), updated.size(),
                            written_first);
}

step update_at(const std::string& path, bool create, std::uint64_t largest,
               const image_transform& transform, bool durable)
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
        [&](handle file, bool readable, const platform::file_facts& locked,
            bool have_lock) -> std::optional<step> {
            return update_existing(file, readable, where, locked, have_lock, largest, transform);
        },
        [&]() -> std::optional<step> {
            if (!create)
                return failure(write_outcome::open_failed, ENOENT);
            std::vector<plan_piece> plan;
            if (std::optional<step> instead =
                    plan_update(platform::no_handle, 0, false, transform, plan))
                return *instead;
            std::vector<std::uint8_t> updated;
            int unread = 0;
            if (!assemble_from(platform::no_handle, plan, updated, unread))
                return failure(write_outcome::read_failed, EIO);
            return create_output(where, updated.data(), updated.size(), true);
        });
}

} // namespace

write_result update_output(const std::string& path, bool create, std::uint64_t largest,
                           const image_transform& transform, sync_mode sync)
{
    const platform::size_limit_fails_writes guard;
    return with_reason(update_at(path, create, largest, transform, sync == sync_mode::durable));
}

} // namespace cassmak::core
