#include "cassmak/write.h"

#include "io/files.h"
#include "io/outcome_words.h"
#include "lib/guard.h"

namespace cassmak {

namespace {

write_result public_result(const std::string& path, const ::write_result& from, bool update)
{
    write_result result;
    result.outcome = static_cast<write_outcome>(from.outcome);
    result.reason = from.reason;
    if (from.outcome != ::write_outcome::written) {
        result.status = 2;
        result.message =
            update ? update_failure_message(path, from) : write_failure_message(path, from, false);
    }
    return result;
}

static_assert(static_cast<int>(write_outcome::read_failed) ==
                  static_cast<int>(::write_outcome::read_failed),
              "the public outcomes are the seam's, in its order");

} // namespace

write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                          bool append)
{
    return detail::guarded<write_result>(
        2, [&] { return public_result(path, ::write_output(path, bytes, size, append), false); });
}

write_result update_output(const std::string& path, bool create, const image_transform& transform)
{
    return detail::guarded<write_result>(2, [&] {
        // An exception must not pass through the seam, which holds the lock
        // and the signals while it calls the transform.
        bool thrown = false;
        const ::image_transform inner = [&](old_image old, bool existed,
                                            std::vector<std::uint8_t>& updated) {
            try {
                thrown = false;
                const std::vector<std::uint8_t>& bytes = old;
                return transform(bytes, existed, updated);
            } catch (...) {
                thrown = true;
                return false;
            }
        };
        write_result result = public_result(path, ::update_output(path, create, inner), true);
        if (thrown)
            result.message = path + ": cannot be updated: the change failed; it is left as it was";
        return result;
    });
}

write_result save_tape(const std::string& path, const std::vector<std::uint8_t>& image)
{
    return update_output(
        path, true,
        [&](const std::vector<std::uint8_t>&, bool, std::vector<std::uint8_t>& updated) {
            updated = image;
            return true;
        });
}

} // namespace cassmak
