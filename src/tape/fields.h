// The rules of a file head's fields as anything takes them typed: their
// ranges, the name's width, case and padding, and the words of a value that
// breaks them. cassmak reads its numbers as strtol does (its option walk);
// casstool set and the web page read them with parse_field_number, which
// wants nothing after the number.
#pragma once

#include "tape/format.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace cassmak::core {

constexpr long file_number_max = 99;
constexpr long address_max = 0xFFFF;
// The printable ASCII characters but the space.
constexpr int file_type_low = 0x21;
constexpr int file_type_high = 0x7E;
// What a file is stored as when its type is not given.
constexpr char default_file_type = '?';

bool file_number_valid(long number);
bool address_valid(long address);
// `type` as a byte of the command line: bytes of 0x80 and above are no type.
bool file_type_valid(char type);
bool name_fits(std::string_view name);

// The name as it is given, padded with spaces to the name width (no case
// changed: the writer does that as it stores it).
std::string padded_name(std::string name);

// The name field as the tape holds it: upper case by the C locale's rules,
// which change only a to z (bytes of 0x80 and above pass as they are), padded
// with spaces or cut to the name width.
void store_name(std::uint8_t* field, std::string_view name);

// A number written decimal, as 0x hex or with a leading 0 as octal, with no
// sign, white space or other characters; false for anything else.
bool parse_field_number(const std::string& text, unsigned long& value);
// At most 8 characters, upper-cased (a to z only) and padded with spaces.
bool make_name_field(const std::string& text, std::array<std::uint8_t, name_width>& field);
// Exactly one character from 0x21 to 0x7E.
bool valid_file_type(const std::string& text);

// The fields of a file head that can be typed.
enum class header_field { name, number, type, address };

// The field a word names ("name", "number", "type"; any other is the
// address), as casstool set's options (after their "--") and the page name
// them.
header_field header_field_named(const std::string& word);

// What a field needs, as the refusals name it ("a file number").
const char* header_field_needs(header_field field);

// Whether `text` can be stored in `field` by the rules above.
bool header_field_takes(header_field field, const std::string& text);

// Why `text` cannot be stored in `field`, in casstool set's words ("a file
// number '100' is not 0 to 99").
std::string header_field_refusal(header_field field, const std::string& text);

// The rule of `field` in the words the web page shows beside a field that
// breaks it ("a file number is 0 to 99 (decimal, 0x hex or 0 octal), with
// nothing after it").
std::string header_field_rule(header_field field);

} // namespace cassmak::core
