// cassmak's file steps: the input read within its bounds and the image
// written, each failure reported with its status where it is detected.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Reads the whole file at `path` into `buffer` (room for `max_length` bytes)
// and returns its length, which must lie in [min_length, max_length].
int load_input(const std::string& path, std::uint8_t* buffer, int min_length, int max_length);

// Reads the BASIC source at `path` into `source_out`, checking its length as
// load_input does, and returns that length. A read that ends early is taken
// as the end of the source, as a line-by-line reader would take it.
int open_basic_source(const std::string& path, int min_length, int max_length,
                      std::string& source_out);

// Writes the image with the safe writer; reports a failure as status -9, -10
// or -11 and returns it, or returns 0.
int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append);
