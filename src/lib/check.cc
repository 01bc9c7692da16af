#include "cassmak/check.h"

#include "basic/checker.h"
#include "lib/guard.h"
#include "tape/statuses.h"

#include <algorithm>

namespace cassmak {

source_check check_source(std::string_view text, const std::vector<std::string>& disabled)
{
    return detail::guarded<source_check>(core::work_failed, [&] {
        source_check result;
        core::check_basic_source(text, [&](const core::check_warning& warning) {
            const std::string_view kind = check_kind_name(warning.kind);
            if (std::find(disabled.begin(), disabled.end(), kind) != disabled.end())
                return;
            result.diagnostics.push_back({warning.line, warning.column, warning.display_column,
                                          std::string(kind), warning.message});
        });
        result.status = result.diagnostics.empty() ? core::work_sound : core::work_damaged;
        return result;
    });
}

std::string format_diagnostic(const std::string& source, const diagnostic& warning)
{
    try {
        std::string line;
        core::append_check_line(line, source, warning.line, warning.display_column, warning.message,
                                warning.kind);
        return line;
    } catch (...) {
        return {};
    }
}

std::vector<std::string> check_kinds()
{
    try {
        const std::vector<std::string_view>& kinds = core::check_kinds();
        return {kinds.begin(), kinds.end()};
    } catch (...) {
        return {};
    }
}

} // namespace cassmak
