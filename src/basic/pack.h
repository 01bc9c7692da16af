// An input packed into tape blocks as cassmak packs it: its size bounds, the
// BASIC source imported into a program image, and the blocks written.
#pragma once

#include "basic/importer.h"
#include "tape/blocks.h"

#include <cstddef>
#include <string>
#include <string_view>

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
    char file_type = '?';
    int file_number = 0;
    std::string name; // as stored, before upper-casing: at most the name width
    int address = 0;
};

// Appends `input` (within its size bounds) to `image` as `fields` say. For a
// BASIC source the import is returned with its lines; when the program does
// not fit (length import_too_large) nothing is appended. For a binary the
// length is the input's.
basic_import pack_input(const pack_fields& fields, std::string_view input, output_image& image);
