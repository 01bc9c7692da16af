// The page's renumbering of a BASIC source, as `casstool renum` renumbers it,
// with its refusals in casstool's words.
#include "page_api.h"
#include "page_json.h"

#include "basic/renumber.h"
#include "tape/fields.h"

using namespace cassmak::core;

namespace {

// The number typed in the field `name`, as casstool renum's option takes it.
std::string take_setting(const char* name, const std::string& text, std::uint32_t least,
                         std::uint32_t& value)
{
    unsigned long number = 0;
    if (parse_field_number(text, number) && number >= least && number <= line_number_max) {
        value = static_cast<std::uint32_t>(number);
        return {};
    }
    return std::string("the ") + name + " takes " + std::to_string(least) + " to " +
           std::to_string(line_number_max) + ", not '" + text + "'";
}

} // namespace

void append_source_problems_json(std::string& out, const char* key,
                                 const std::vector<check_warning>& problems)
{
    out += ",\"";
    out += key;
    out += "\":[";
    bool first = true;
    for (const check_warning& problem : problems) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"line\":" + std::to_string(problem.line);
        append_field(out, "column", problem.display_column);
        append_field(out, "kind", check_kind_name(problem.kind));
        append_field(out, "message", problem.message);
        out += '}';
    }
    out += ']';
}

std::string renumbered_source_json(std::string_view source, const std::string& start,
                                   const std::string& step)
{
    renumber_settings settings;
    std::string message = take_setting("start", start, 0, settings.start);
    if (message.empty())
        message = take_setting("step", step, 1, settings.step);
    source_renumber renumbered;
    if (message.empty()) {
        renumbered = renumber_source(source, settings);
        message = renumbered.message;
    }
    std::string out = "{\"refused\":";
    out += message.empty() ? "false" : "true";
    append_field(out, "message", message);
    append_field(out, "text", renumbered.text);
    append_field(out, "lines", renumbered.lines.size());
    append_source_problems_json(out, "errors", renumbered.errors);
    append_source_problems_json(out, "warnings", renumbered.warnings);
    return out + "}";
}
