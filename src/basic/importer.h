// Turns a BASIC program written as numbered text lines into the machine's
// in-memory program image: linked line records ending with a zero link.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

constexpr int basic_base_address = 0x2401;
constexpr char basic_file_type = '>';
constexpr int basic_source_min = 5;
constexpr int basic_source_max = 65535;
// Past this the links, which count from the base address, would leave the
// 16-bit address space.
constexpr int basic_image_max = 0x10000 - basic_base_address + 1;

// Reads `source` to its end and writes the program image into `buffer`, which
// holds `capacity` bytes; returns the image length. Progress and warnings go
// to standard output. An image that would exceed `capacity` or
// basic_image_max is refused with status -19, naming `source_path`.
int import_basic(std::uint8_t* buffer, int capacity, std::FILE* source,
                 const std::string& source_path);

// The BASIC road of a run: opens the source at `path` within the source
// bounds and imports it into `buffer`. The open source is handed to the
// caller in `source_out`, which closes it, whatever the outcome.
int load_basic_program(const std::string& path, std::uint8_t* buffer, int capacity,
                       std::FILE*& source_out);
