// The page's making of a tape: each input packed as cassmak packs it, with
// cassmak's field rules, defaults, size bounds and messages.
#include "page_api.h"
#include "page_json.h"

#include "basic/pack.h"
#include "basic/pack_status.h"
#include "basic/program_format.h"
#include "basic/renumber.h"
#include "tape/fields.h"

#include <cstdio>

using namespace cassmak::core;

std::string field_message(header_field field, const std::string& value)
{
    // In a 32-bit build a number past 2^31 saturates where the native build
    // reads it whole; either way it is out of every range.
    const int status = pack_value_status(field, value.c_str());
    return status == status_ok ? std::string() : status_message(status, field_option(field));
}

std::string input_size_message(bool basic, const std::string& name, std::size_t size)
{
    const int low = input_size_min(basic);
    const int high = input_size_max(basic);
    if (size >= static_cast<std::size_t>(low) && size <= static_cast<std::size_t>(high))
        return {};
    return status_message(status_input_size, name, low, high);
}

packed_file pack_file(const pack_form& form, const std::string& name, const std::uint8_t* input,
                      std::size_t size)
{
    packed_file packed;
    pack_request request;
    request.headless = form.headless;
    request.basic = form.basic;
    for (const auto& [field, value] : form.fields) {
        if (const int status = take_pack_value(field, value.c_str(), request); status != status_ok) {
            packed.message = status_message(status, field_option(field));
            return packed;
        }
    }
    if (const int status = pack_combination_status(request); status != status_ok) {
        packed.message = status_message(status, "");
        return packed;
    }
    packed.message = input_size_message(request.basic, name, size);
    if (!packed.message.empty())
        return packed;
    complete_pack_request(request, name + ".kst");
    std::string_view source(reinterpret_cast<const char*>(input), size);
    // A source with labels or unnumbered lines is numbered as casstool add
    // --basic numbers it; any other comes back as it is.
    source_renumber numbered;
    if (request.basic) {
        numbered = number_source(source, renumber_settings{});
        packed.label_errors = numbered.errors;
        if (!numbered.message.empty()) {
            packed.message = name + ": " + numbered.message + "; nothing added";
            return packed;
        }
        packed.missing_targets = numbered.warnings;
        if (numbered.text.size() > static_cast<std::size_t>(input_size_max(true))) {
            packed.message =
                input_size_message(true, name, numbered.text.size()) + " once numbered";
            return packed;
        }
        source = numbered.text;
    }
    packed.import = pack_input(pack_fields_of(request), source, packed.image);
    if (packed.import.length == import_too_large)
        packed.message = status_message(status_basic_too_large, name, 0, packed.import.limit);
    return packed;
}

std::string packed_file_json(const packed_file& packed)
{
    std::string out = "{\"message\":";
    append_json_string(out, packed.message);
    append_field(out, "length", packed.image.size());
    out += ",\"warnings\":[";
    bool first = true;
    for (const import_line& line : packed.import.lines) {
        for (const std::string& text : import_line_warnings(line)) {
            out += first ? "{" : ",{";
            first = false;
            out += "\"line\":" + std::to_string(line.number);
            append_field(out, "text", text);
            out += '}';
        }
    }
    out += ']';
    append_source_problems_json(out, "errors", packed.label_errors);
    append_source_problems_json(out, "missing", packed.missing_targets);
    return out + "}";
}

namespace {

// The fields a kind of input takes with cassmak's defaults, as the page shows
// them: as hints where the field is free, as values where it is fixed.
void append_kind_defaults(std::string& out, const char* kind, bool basic)
{
    pack_request request;
    request.basic = basic;
    complete_pack_request(request, "x");
    char address[8];
    std::snprintf(address, sizeof address, basic ? "0x%04lX" : "%ld", request.address);
    out += ",\"";
    out += kind;
    out += "\":{\"-n\":";
    append_json_string(out, std::to_string(request.file_number));
    append_field(out, "-t", std::string_view(&request.file_type, 1));
    append_field(out, "-a", address);
    out += '}';
}

} // namespace

std::string page_defaults_json(const std::string& name)
{
    pack_request request;
    complete_pack_request(request, name + ".kst");
    std::string tape_name(name_width, ' ');
    store_name(reinterpret_cast<std::uint8_t*>(tape_name.data()), request.name);
    tape_name.erase(tape_name.find_last_not_of(' ') + 1);
    std::string out = "{\"name\":";
    append_json_string(out, tape_name);
    append_kind_defaults(out, "binary", false);
    append_kind_defaults(out, "basic", true);
    append_field(out, "basic_type", std::string_view(&basic_file_type, 1));
    append_field(out, "name_width", name_width);
    return out + "}";
}
