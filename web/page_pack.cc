// The page's making of a tape: each input packed as cassmak packs it, with
// cassmak's option walk, defaults, size bounds and messages.
#include "page_api.h"
#include "page_json.h"

#include "basic/pack.h"
#include "basic/program_format.h"
#include "cassmak/options.h"
#include "cassmak/status.h"
#include "tape/fields.h"

#include <cstdio>

std::string option_message(const std::string& option, const std::string& value)
{
    // In a 32-bit build a number past 2^31 saturates where the native build
    // reads it whole; either way it is out of every range.
    const int status = option_value_status(option.c_str(), value.c_str());
    return status == status_ok ? std::string() : status_message(status, option);
}

std::string input_size_message(bool basic, const std::string& name, std::size_t size)
{
    const int low = input_size_min(basic);
    const int high = input_size_max(basic);
    if (size >= static_cast<std::size_t>(low) && size <= static_cast<std::size_t>(high))
        return {};
    return status_message(status_input_size, name, low, high);
}

packed_file pack_file(const std::vector<std::string>& arguments, const std::string& name,
                      const std::uint8_t* input, std::size_t size)
{
    packed_file packed;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        packed.message = option_message(arguments[i], arguments[i + 1]);
        if (!packed.message.empty())
            return packed;
    }
    std::vector<const char*> argv = {"cassmak"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    conversion_settings settings;
    // The input is set here rather than given as an argument, so that a file
    // called "-b" stays a file.
    int status = parse_arguments(static_cast<int>(argv.size()), argv.data(), settings);
    if (status == status_ok && !settings.input_path) {
        settings.input_path = name;
        status = complete_settings(settings);
    }
    if (status != status_ok) {
        packed.message = status_message(status, "");
        return packed;
    }
    packed.message = input_size_message(settings.basic, name, size);
    if (!packed.message.empty())
        return packed;
    packed.import =
        pack_input(pack_fields_of(settings),
                   std::string_view(reinterpret_cast<const char*>(input), size), packed.image);
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
    return out + "]}";
}

namespace {

// The fields a kind of input takes with cassmak's defaults, as the page shows
// them: as hints where the field is free, as values where it is fixed.
void append_kind_defaults(std::string& out, const char* kind, bool basic)
{
    conversion_settings settings;
    settings.input_path = "x";
    settings.basic = basic;
    complete_settings(settings);
    char address[8];
    std::snprintf(address, sizeof address, basic ? "0x%04lX" : "%ld", settings.address);
    out += ",\"";
    out += kind;
    out += "\":{\"-n\":";
    append_json_string(out, std::to_string(settings.file_number));
    append_field(out, "-t", std::string_view(&settings.file_type, 1));
    append_field(out, "-a", address);
    out += '}';
}

} // namespace

std::string page_defaults_json(const std::string& name)
{
    conversion_settings settings;
    settings.input_path = name;
    std::string tape_name;
    if (complete_settings(settings) == status_ok) {
        tape_name.resize(name_width);
        store_name(reinterpret_cast<std::uint8_t*>(tape_name.data()), settings.name);
        tape_name.erase(tape_name.find_last_not_of(' ') + 1);
    }
    std::string out = "{\"name\":";
    append_json_string(out, tape_name);
    append_kind_defaults(out, "binary", false);
    append_kind_defaults(out, "basic", true);
    append_field(out, "basic_type", std::string_view(&basic_file_type, 1));
    append_field(out, "name_width", name_width);
    return out + "}";
}
