#include "cassmak/write.h"

#include "io/files.h"
#include "io/outcome_words.h"
#include "lib/guard.h"
#include "tape/limits.h"
#include "tape/statuses.h"

namespace cassmak {

namespace {

write_result public_result(const std::string& path, const core::write_result& from, bool update)
{
    write_result result;
    result.outcome = static_cast<write_outcome>(from.outcome);
    result.reason = from.reason;
    if (from.outcome != core::write_outcome::written) {
        result.status = core::work_failed;
        result.message =
            update ? update_failure_message(path, from) : write_failure_message(path, from, false);
    }
    return result;
}

core::sync_mode sync_of(bool durable)
{
    return durable ? core::sync_mode::durable : core::sync_mode::fast;
}

static_assert(static_cast<int>(write_outcome::read_failed) ==
                  static_cast<int>(core::write_outcome::read_failed),
              "the public outcomes are the seam's, in its order");

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                          bool append, bool durable)
{
    return detail::guarded<write_result>(core::work_failed, [&] {
        return public_result(path, core::write_output(path, bytes, size, append, sync_of(durable)),
                             false);
    });
}

write_result update_output(const std::string& path, bool create, const image_transform& transform,
                           bool durable)
{
    return detail::guarded<write_result>(core::work_failed, [&] {
        // An exception must not pass through the seam, which holds the lock
        // and the signals while it calls the transform.
        bool thrown = false;
        std::vector<std::uint8_t> before;
        std::vector<std::uint8_t> updated; // lives until the seam has written it
        const core::image_transform inner = [&](const core::old_file& old, bool existed,
                                                std::vector<core::plan_piece>& plan) {
            try {
                thrown = false;
                before.resize(static_cast<std::size_t>(old.size));
                if (!before.empty() && !old.read(0, before.data(), before.size()))
                    return false;
                updated.clear();
                if (!transform(before, existed, updated))
                    return false;
                plan.push_back({updated.data(), 0, updated.size()});
                return true;
            } catch (...) {
                thrown = true;
                return false;
            }
        };
        write_result result = public_result(
            path, core::update_output(path, create, core::largest_image, inner, sync_of(durable)),
            true);
        if (thrown)
            result.message = path + ": cannot be updated: the change failed; it is left as it was";
        return result;
    });
}

write_result save_tape(const std::string& path, const std::vector<std::uint8_t>& image,
                       bool durable)
{
    return update_output(
        path, true,
        [&](const std::vector<std::uint8_t>&, bool, std::vector<std::uint8_t>& updated) {
            updated = image;
            return true;
        },
        durable);
}

} // namespace cassmak
