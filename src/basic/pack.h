// An input packed into tape blocks as cassmak packs it: its size bounds, the
// BASIC source imported into a program image, and the blocks written.
#pragma once

#include "basic/importer.h"
#include "tape/blocks.h"
#include "tape/fields.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace cassmak::core {

// The payload buffer of a run, and the lengths a binary or headless input may
// have.
constexpr int payload_capacity = 65536;
constexpr int binary_min = 1;
constexpr int binary_max = 65533;

// The sizes an input may have: a BASIC source's or a binary's.
int input_size_min(bool basic);
int input_size_max(bool basic);

// How an input is stored: as a headless block, or as a tape file with these
// header fields; with `basic`, the input is a source to import first.
struct pack_fields {
    bool headless = false;
    bool basic = false;
    char file_type = default_file_type;
    int file_number = 0;
    std::string name; // as stored, before upper-casing: at most the name width
    int address = 0;
};

// Appends `input` (within its size bounds) to `image` as `fields` say. For a
// BASIC source the import is returned with its lines; when the program does
// not fit (length import_too_large) nothing is appended. For a binary the
// length is the input's.
basic_import pack_input(const pack_fields& fields, std::string_view input, output_image& image);

// What is asked of one input before the defaults: cassmak's options and the
// page's form fill it, a field at a time, in the order they are given.
struct pack_request {
    bool headless = false;
    bool basic = false;
    long address = -1;     // -1: not given
    long file_number = -1; // -1: not given
    char file_type = 0;    // 0: not given
    std::string name;      // empty: not given; otherwise exactly 8 characters
};

// The option that gives the field on cassmak's command line, which the
// field's failure message names: "-a", "-n", "-t" or "-m".
const char* field_option(header_field field);

// Reads a number as strtol with automatic base does (0x hex, leading 0 octal);
// returns -1 for a negative number or for a zero followed by anything unread.
long parse_number(const char* text);

// status_ok, or the failure (unreported) for `value` (null: none given) of
// `field`.
int pack_value_status(header_field field, const char* value);

// Takes `value` (null: none given) into `field` of `request` and returns its
// status, unreported. A refused type still counts as given, so that combining
// it with -hless or -b is refused too.
int take_pack_value(header_field field, const char* value, pack_request& request);

// status_bad_combination where the request mixes a headless block with a
// BASIC program or with header fields, or a BASIC program with an address or
// a type; status_ok otherwise.
int pack_combination_status(const pack_request& request);

// Fills in what the request does not give: address, number and type as
// cassmak defaults them, the name derived from the output path.
void complete_pack_request(pack_request& request, const std::string& output_path);

// The header fields and the form a completed request packs an input in.
pack_fields pack_fields_of(const pack_request& request);

// The 8-character tape name derived from an output path: its last component,
// at most 8 characters, cut at the last dot among them, padded with spaces.
std::string derive_name(const std::string& output_path);

} // namespace cassmak::core
