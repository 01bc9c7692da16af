// How casstool names entries and images in its lines and messages, kept
// beside the core so that the tools and the library word them alike.
#pragma once

#include "tape/reader.h"

#include <cstddef>
#include <string>

namespace cassmak::core {

// "; its entries are 1 to 3", "; its only entry is 1" or "; the image is empty".
std::string entries_are(std::size_t count);

// A count in groups of three digits: "1,234".
std::string grouped(std::size_t value);

// What the entry is, for a line that says what was done with it, with
// `count` bytes: "file HELLO, 1,234 bytes", "headless block, 1 byte". The
// bytes of the name that a terminal would not show are written \xNN.
std::string describe_entry(const tape_entry& entry, std::size_t count);

// The same with the entry's own length.
inline std::string describe_entry(const tape_entry& entry)
{
    return describe_entry(entry, entry.length);
}

// "PATH: entry 3".
std::string entry_label(const std::string& path, const tape_entry& entry);
// "PATH: entry 3 is damaged (PROBLEM)".
std::string damage_label(const std::string& path, const tape_entry& entry);

// An entry number as `list` shows it: digits only. A number beyond
// std::size_t saturates, so that it is reported as an entry the image lacks.
bool parse_entry(const std::string& text, std::size_t& entry);

// "entry 'x' is not a number", `what` naming the argument ("entry",
// "position") and `typed` as it was typed.
std::string not_a_number(const char* what, const std::string& typed);

// "PATH: no entry 7; its entries are 1 to 3": `typed` as it was typed.
std::string missing_entry_message(const std::string& path, const std::string& typed,
                                  std::size_t count);

} // namespace cassmak::core
