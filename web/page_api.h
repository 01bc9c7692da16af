// What the web page asks of the core. Each answer is a JSON text that the
// page's script reads; the bytes themselves stay with the script, which gets
// offsets into them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The entries of a tape image as `casstool list` shows them, with where each
// payload lies in the image:
// {"entries":[{"entry":1,"offset":0,"kind":"file","number":0,"type":"?",
//   "address":0,"length":1,"name":"A       ","checksums":"good",
//   "problem":"","payload_offset":69,"payload_size":1}, ...]}
std::string tape_entries_json(const std::uint8_t* image, std::size_t size);

// The warnings of `casstool check` for a BASIC source, each with its fix:
// {"warnings":[{"line":1,"column":1,"kind":"bom","message":"...","fix":"..."}]}
std::string source_warnings_json(std::string_view source);

// The fix for a kind of warning, as the README's table gives it.
std::string_view fix_of(std::string_view kind);

// Appends `text` to `out` as a JSON string; bytes of 0x80 and above become
// the code point of the same value, so that any byte comes through.
void append_json_string(std::string& out, std::string_view text);
