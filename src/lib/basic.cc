#include "cassmak/basic.h"

#include "basic/detokenizer.h"
#include "lib/guard.h"
#include "tape/statuses.h"

namespace cassmak {

basic_text list_basic(const std::uint8_t* program, std::size_t size)
{
    return detail::guarded<basic_text>(core::work_failed, [&] {
        core::basic_listing listing = core::list_basic_program(program, size);
        basic_text result;
        result.text = std::move(listing.text);
        result.warnings = std::move(listing.warnings);
        result.status = result.warnings.empty() ? core::work_sound : core::work_damaged;
        return result;
    });
}

} // namespace cassmak
