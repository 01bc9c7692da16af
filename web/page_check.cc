// The page's check of a BASIC source, as `casstool check` finds it, with the
// fix of each kind.
#include "page_api.h"
#include "page_json.h"

#include "basic/checker.h"

using namespace cassmak::core;

std::string source_warnings_json(std::string_view source)
{
    std::string out = "{\"warnings\":[";
    bool first = true;
    for (const check_warning& warning : check_basic_source(source)) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"line\":" + std::to_string(warning.line);
        append_field(out, "column", warning.display_column);
        append_field(out, "kind", check_kind_name(warning.kind));
        append_field(out, "message", warning.message);
        append_field(out, "fix", check_kind_fix(warning.kind));
        out += '}';
    }
    return out + "]}";
}
