#include "programs/cassmak/options.h"

#include "programs/cassmak/status.h"

#include <cstring>
#include <optional>

using namespace cassmak::core;

namespace {

// The field an option gives, if it gives one.
std::optional<header_field> field_of(const char* option)
{
    for (header_field field :
         {header_field::address, header_field::number, header_field::type, header_field::name})
        if (std::strcmp(option, field_option(field)) == 0)
            return field;
    return std::nullopt;
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
    const int status = take_pack_value(*field_of(option), value, settings.request);
    return status == status_ok ? status : report_status(status, option);
}

} // namespace

int option_value_status(const char* option, const char* value)
{
    const std::optional<header_field> field = field_of(option);
    return field ? pack_value_status(*field, value) : status_ok;
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
            settings.request.headless = true;
        } else if (std::strcmp(argument, "-b") == 0) {
            settings.request.basic = true;
        } else if (std::strcmp(argument, "-o") == 0 || field_of(argument)) {
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
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
    if (const int status = pack_combination_status(settings.request); status != status_ok)
        return settings.status = report_status(status, "");
    if (!settings.input_path)
        return settings.status = report_status(status_no_input, "");
    if (!settings.output_path)
        settings.output_path = *settings.input_path + ".kst";
    complete_pack_request(settings.request, *settings.output_path);
    return status_ok;
}
