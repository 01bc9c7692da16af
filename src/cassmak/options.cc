#include "cassmak/options.h"

#include "basic/importer.h"
#include "cassmak/status.h"
#include "tape/fields.h"

#include <cstdlib>
#include <cstring>

namespace {

// The option's value, or null when the option is the last argument.
const char* value_after(int argc, const char* const* argv, int& i)
{
    return i + 1 < argc ? argv[++i] : nullptr;
}

// Handles one option that takes a value; returns its status.
int take_value(const char* option, const char* value, conversion_settings& settings)
{
    if (std::strcmp(option, "-o") == 0) {
        if (!value || settings.output_path)
            return report_status(status_two_outputs, option);
        settings.output_path = value;
        return status_ok;
    }
    const int status = option_value_status(option, value);
    if (std::strcmp(option, "-a") == 0 && status == status_ok)
        settings.address = parse_number(value);
    else if (std::strcmp(option, "-n") == 0 && status == status_ok)
        settings.file_number = parse_number(value);
    else if (std::strcmp(option, "-t") == 0) // kept even when refused
        settings.file_type = value && std::strlen(value) <= 1 ? value[0] : '\0';
    else if (std::strcmp(option, "-m") == 0 && status == status_ok)
        settings.name = padded_name(value);
    return status == status_ok ? status : report_status(status, option);
}

bool takes_value(const char* argument)
{
    for (const char* option : {"-a", "-n", "-t", "-m", "-o"})
        if (std::strcmp(argument, option) == 0)
            return true;
    return false;
}

} // namespace

int option_value_status(const char* option, const char* value)
{
    if (std::strcmp(option, "-a") == 0)
        return value && address_valid(parse_number(value)) ? status_ok : status_bad_address;
    if (std::strcmp(option, "-n") == 0)
        return value && file_number_valid(parse_number(value)) ? status_ok : status_bad_number;
    if (std::strcmp(option, "-t") == 0)
        return value && std::strlen(value) == 1 && file_type_valid(value[0]) ? status_ok
                                                                             : status_bad_type;
    if (std::strcmp(option, "-m") == 0)
        return value && name_fits(value) ? status_ok : status_bad_name;
    return status_ok;
}

long parse_number(const char* text)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 0);
    // Some C libraries (musl, as in the web build) take a lone "0x" whole;
    // it is the zero with the "x" unread, as glibc reads it.
    if (value == 0 && end > text && (end[-1] == 'x' || end[-1] == 'X'))
        --end;
    // With no digits at all strtol leaves `end` at the start, so the whole
    // text counts as unread.
    if (value < 0 || (value == 0 && *end != '\0'))
        return -1;
    return value;
}

int parse_arguments(int argc, const char* const* argv, conversion_settings& settings)
{
    for (int i = 1; i < argc && settings.status == status_ok; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "-h") == 0) {
            settings.status = status_usage;
        } else if (std::strcmp(argument, "-v") == 0) {
            settings.status = status_version;
        } else if (std::strcmp(argument, "-append") == 0) {
            settings.append = true;
        } else if (std::strcmp(argument, "-hless") == 0) {
            settings.headless = true;
        } else if (std::strcmp(argument, "-b") == 0) {
            settings.basic = true;
        } else if (takes_value(argument)) {
            const char* value = value_after(argc, argv, i);
            settings.status = take_value(argument, value, settings);
        } else if (settings.input_path) {
            settings.status = report_status(status_two_inputs, argument);
        } else {
            settings.input_path = argument;
        }
    }
    return settings.status;
}

int complete_settings(conversion_settings& settings)
{
    const bool address_given = settings.address != -1;
    const bool type_given = settings.file_type != 0;
    const bool number_given = settings.file_number != -1;
    if ((settings.headless && (settings.basic || address_given || type_given || number_given)) ||
        (settings.basic && (address_given || type_given)))
        return settings.status = report_status(status_bad_combination, "");
    if (!settings.input_path)
        return settings.status = report_status(status_no_input, "");
    if (!settings.output_path)
        settings.output_path = *settings.input_path + ".kst";
    if (!address_given)
        settings.address = settings.basic ? basic_base_address : 0;
    if (!number_given)
        settings.file_number = 0;
    if (!type_given)
        settings.file_type = settings.basic ? basic_file_type : default_file_type;
    if (settings.name.empty())
        settings.name = derive_name(*settings.output_path);
    return status_ok;
}

std::string derive_name(const std::string& output_path)
{
    std::size_t slash = output_path.rfind('/');
    if (slash == std::string::npos)
        slash = output_path.rfind('\\');
    std::string name = output_path.substr(slash == std::string::npos ? 0 : slash + 1, name_width);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    return padded_name(name);
}

pack_fields pack_fields_of(const conversion_settings& settings)
{
    pack_fields fields;
    fields.headless = settings.headless;
    fields.basic = settings.basic;
    fields.file_type = settings.file_type;
    fields.file_number = static_cast<int>(settings.file_number);
    fields.name = settings.name;
    fields.address = static_cast<int>(settings.address);
    return fields;
}
