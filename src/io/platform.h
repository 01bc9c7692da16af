// The primitives each platform's seam gives to the portable rules of
// src/io/ (reads.cc): each platform implements these over its own system
// calls, and the rules, which decide what `-` is, how far a read goes and
// what its failures are called, are written once over them.
#pragma once

#include "io/files.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file open for reading, as the system's handle of it.
struct reading {
    std::intptr_t handle = -1;
    bool open = false;
};

// Opens `path` for reading; `-` is standard input, through a handle of its
// own that close_reading closes and the process's own stays open. A failure
// is open_failed, or read_failed for a folder, with the system's words.
read_result open_reading(const std::string& path, reading& file);

// The size of the file when it is a regular one, whose size is known before
// it is read; false for a pipe, a device or a terminal.
bool regular_size(const reading& file, std::uint64_t& size);

// Reads up to `room` bytes into `into` and sets `got`; 0 at the end, which a
// pipe whose writer closed it has reached too. An interrupted read goes on.
read_result read_some(const reading& file, std::uint8_t* into, std::size_t room, std::size_t& got);

void close_reading(reading& file);

} // namespace platform
