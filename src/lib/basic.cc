#include "cassmak/basic.h"

#include "basic/detokenizer.h"
#include "basic/references.h"
#include "basic/renumber.h"
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

namespace {

diagnostic public_diagnostic(const core::check_warning& warning)
{
    return {warning.line, warning.column, warning.display_column,
            std::string(core::check_kind_name(warning.kind)), warning.message};
}

renumbered_source public_renumber(const core::source_renumber& done)
{
    renumbered_source result;
    result.status = done.status;
    result.text = done.text;
    for (const core::check_warning& warning : done.warnings)
        result.warnings.push_back(public_diagnostic(warning));
    for (const core::check_warning& error : done.errors)
        result.errors.push_back(public_diagnostic(error));
    result.message = done.message;
    return result;
}

} // namespace

renumbered_source renumber_source(std::string_view text, std::uint32_t start, std::uint32_t step)
{
    return detail::guarded<renumbered_source>(core::work_failed, [&] {
        return public_renumber(core::renumber_source(text, {start, step}));
    });
}

renumbered_source number_source(std::string_view text, std::uint32_t start, std::uint32_t step)
{
    return detail::guarded<renumbered_source>(core::work_failed, [&] {
        return public_renumber(core::number_source(text, {start, step}));
    });
}

std::vector<source_reference> source_references(std::string_view text)
{
    try {
        std::vector<source_reference> found;
        core::find_program_references(text, [&](const core::placed_reference& reference) {
            found.push_back({reference.line, reference.column, std::string(reference.written),
                             reference.kind == core::reference_kind::label});
        });
        return found;
    } catch (...) {
        return {};
    }
}

} // namespace cassmak
