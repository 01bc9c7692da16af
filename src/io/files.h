// Whole-file input and output. Every failure is reported here, where it is
// detected, and the status is returned for the caller to pass up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Reads the whole file at `path` into `buffer` (room for `max_length` bytes)
// and returns its length, which must lie in [min_length, max_length].
int load_input(const std::string& path, std::uint8_t* buffer, int min_length, int max_length);

// Checks the file at `path` as load_input does, without reading it. On success
// the file is left open at its start in `handle_out` (the caller closes it) and
// its length is returned; on failure nothing is handed over.
int open_basic_source(const std::string& path, int min_length, int max_length,
                      std::FILE*& handle_out);

// What became of a write_output call; nothing is reported by it, so that each
// program words its own failures.
enum class write_outcome {
    written,
    open_failed,   // the output could not be opened (or created)
    access_failed, // a replaced output could not be positioned (a pipe or terminal)
    write_failed,  // fewer bytes than asked could be written; nothing torn is left
};

// Writes `count` bytes to `path`, replacing it or, with `append`, adding to
// its end, so that the output never holds a torn image.
write_outcome write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                           bool append);

// Writes `count` bytes to `path`, replacing the file or, with `append`,
// adding to its end. A failed write never leaves a torn image behind: an
// appended regular file is cut back to its old length, a replaced regular file
// is removed.
int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append);
