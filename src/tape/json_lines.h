// The JSON lines of `list --json`, one an entry.
#pragma once

#include "tape/reader.h"

#include <cstdint>
#include <string>

namespace cassmak::core {

// One JSON line for the entry. The image path is written as UTF-8 text where
// it is valid UTF-8, and each other byte of it as the lone surrogate U+DC80 +
// byte (\udcXX), so that no two paths give one text; every byte of the
// stored name and type becomes the code point of the same value.
void append_json(std::string& out, const std::string& path, const tape_entry& entry,
                 std::uint64_t base);

// The same line in two parts, for many entries of one image: the start, made
// once from the path, and the rest.
std::string json_line_start(const std::string& path);
void append_json_line(std::string& out, const std::string& start, const tape_entry& entry,
                      std::uint64_t base);

} // namespace cassmak::core
