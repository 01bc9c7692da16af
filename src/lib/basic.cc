#include "cassmak/basic.h"

#include "basic/detokenizer.h"
#include "lib/guard.h"

namespace cassmak {

basic_text list_basic(const std::uint8_t* program, std::size_t size)
{
    return detail::guarded<basic_text>(2, [&] {
        core::basic_listing listing = core::list_basic_program(program, size);
        basic_text result;
        result.text = std::move(listing.text);
        result.warnings = std::move(listing.warnings);
        result.status = result.warnings.empty() ? 0 : 1;
        return result;
    });
}

} // namespace cassmak
