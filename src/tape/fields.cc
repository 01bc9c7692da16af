#include "tape/fields.h"

#include <algorithm>

namespace cassmak::core {

bool file_number_valid(long number)
{
    return number >= 0 && number <= file_number_max;
}

bool address_valid(long address)
{
    return address >= 0 && address <= address_max;
}

bool file_type_valid(char type)
{
    const auto byte = static_cast<unsigned char>(type);
    return byte >= file_type_low && byte <= file_type_high;
}

bool name_fits(std::string_view name)
{
    return name.size() <= name_width;
}

std::string padded_name(std::string name)
{
    name.resize(name_width, ' ');
    return name;
}

void store_name(std::uint8_t* field, std::string_view name)
{
    for (std::size_t i = 0; i < name_width; ++i) {
        const auto byte = i < name.size() ? static_cast<std::uint8_t>(name[i]) : std::uint8_t{' '};
        field[i] = byte >= 'a' && byte <= 'z' ? static_cast<std::uint8_t>(byte - 'a' + 'A') : byte;
    }
}

bool parse_field_number(const std::string& text, unsigned long& value)
{
    unsigned base = 10;
    std::size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        at = 1;
    }
    if (at >= text.size())
        return false;
    value = 0;
    for (; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (digit >= base)
            return false;
        // Anything past the 16-bit fields is out of every range alike.
        value = std::min(value * base + digit, 0x1000000UL);
    }
    return true;
}

bool make_name_field(const std::string& text, std::array<std::uint8_t, name_width>& field)
{
    if (!name_fits(text))
        return false;
    store_name(field.data(), text);
    return true;
}

bool valid_file_type(const std::string& text)
{
    return text.size() == 1 && file_type_valid(text[0]);
}

namespace {

long most_of(header_field field)
{
    return field == header_field::number ? file_number_max : address_max;
}

} // namespace

header_field header_field_named(const std::string& word)
{
    return word == "name"     ? header_field::name
           : word == "number" ? header_field::number
           : word == "type"   ? header_field::type
                              : header_field::address;
}

const char* header_field_needs(header_field field)
{
    switch (field) {
    case header_field::number: return "a file number";
    case header_field::address: return "an address";
    case header_field::name: return "a name";
    default: return "a file type";
    }
}

bool header_field_takes(header_field field, const std::string& text)
{
    unsigned long value = 0;
    switch (field) {
    case header_field::name: return name_fits(text);
    case header_field::type: return valid_file_type(text);
    default:
        return parse_field_number(text, value) &&
               value <= static_cast<unsigned long>(most_of(field));
    }
}

std::string header_field_refusal(header_field field, const std::string& text)
{
    switch (field) {
    case header_field::name:
        return "name '" + text + "' is longer than " + std::to_string(name_width) + " characters";
    case header_field::type:
        return "file type '" + text + "' is not one character from 0x21 to 0x7E";
    default:
        return std::string(header_field_needs(field)) + " '" + text + "' is not 0 to " +
               std::to_string(most_of(field));
    }
}

std::string header_field_rule(header_field field)
{
    switch (field) {
    case header_field::name:
        return "a name has at most " + std::to_string(name_width) + " characters";
    case header_field::type:
        return "a file type is one printable ASCII character other than a space";
    default:
        return std::string(header_field_needs(field)) + " is 0 to " +
               std::to_string(most_of(field)) +
               " (decimal, 0x hex or 0 octal), with nothing after it";
    }
}

} // namespace cassmak::core
