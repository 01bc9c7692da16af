#include "basic/pack.h"

#include "basic/pack_status.h"
#include "basic/program_format.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace cassmak::core {

int input_size_min(bool basic)
{
    return basic ? basic_source_min : binary_min;
}

int input_size_max(bool basic)
{
    return basic ? basic_source_max : binary_max;
}

basic_import pack_input(const pack_fields& fields, std::string_view input, output_image& image)
{
    basic_import result;
    std::vector<std::uint8_t> program;
    const auto* payload = reinterpret_cast<const std::uint8_t*>(input.data());
    result.length = static_cast<int>(input.size());
    if (fields.basic) {
        program.resize(payload_capacity);
        result = import_basic(program.data(), payload_capacity, input);
        if (result.length == import_too_large)
            return result;
        payload = program.data();
    }
    if (image.empty())
        image.reserve(static_cast<std::size_t>(result.length) + tape_file_overhead);
    if (fields.headless)
        put_headless_block(image, payload, result.length);
    else
        put_tape_file(image, payload, result.length, fields.file_type, fields.file_number,
                      fields.name, fields.address);
    return result;
}

const char* field_option(header_field field)
{
    switch (field) {
    case header_field::address: return "-a";
    case header_field::number: return "-n";
    case header_field::type: return "-t";
    case header_field::name: break;
    }
    return "-m";
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

int pack_value_status(header_field field, const char* value)
{
    switch (field) {
    case header_field::address:
        return value && address_valid(parse_number(value)) ? status_ok : status_bad_address;
    case header_field::number:
        return value && file_number_valid(parse_number(value)) ? status_ok : status_bad_number;
    case header_field::type:
        return value && std::strlen(value) == 1 && file_type_valid(value[0]) ? status_ok
                                                                             : status_bad_type;
    case header_field::name: break;
    }
    return value && name_fits(value) ? status_ok : status_bad_name;
}

int take_pack_value(header_field field, const char* value, pack_request& request)
{
    const int status = pack_value_status(field, value);
    if (field == header_field::type)
        request.file_type = value && std::strlen(value) <= 1 ? value[0] : '\0';
    else if (status != status_ok)
        return status;
    else if (field == header_field::address)
        request.address = parse_number(value);
    else if (field == header_field::number)
        request.file_number = parse_number(value);
    else
        request.name = padded_name(value);
    return status;
}

int pack_combination_status(const pack_request& request)
{
    const bool address_given = request.address != -1;
    const bool type_given = request.file_type != 0;
    const bool number_given = request.file_number != -1;
    if ((request.headless && (request.basic || address_given || type_given || number_given)) ||
        (request.basic && (address_given || type_given)))
        return status_bad_combination;
    return status_ok;
}

void complete_pack_request(pack_request& request, const std::string& output_path)
{
    if (request.address == -1)
        request.address = request.basic ? basic_base_address : 0;
    if (request.file_number == -1)
        request.file_number = 0;
    if (request.file_type == 0)
        request.file_type = request.basic ? basic_file_type : default_file_type;
    if (request.name.empty())
        request.name = derive_name(output_path);
}

pack_fields pack_fields_of(const pack_request& request)
{
    pack_fields fields;
    fields.headless = request.headless;
    fields.basic = request.basic;
    fields.file_type = request.file_type;
    fields.file_number = static_cast<int>(request.file_number);
    fields.name = request.name;
    fields.address = static_cast<int>(request.address);
    return fields;
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

} // namespace cassmak::core
