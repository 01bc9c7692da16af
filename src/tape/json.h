// JSON strings made of the bytes of a tape or of a text, for every front end
// that answers in JSON (casstool list --json, the web page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cassmak::core {

// How bytes of 0x80 and above come through: each as the code point of the
// same value, so that any byte comes through and can be told apart (a tape's
// name); or with valid UTF-8 sequences kept as they are and each other byte
// as the lone surrogate U+DC80 + byte, escaped \udcXX (a path typed on a
// UTF-8 system, which Python's surrogateescape gives back byte for byte).
enum class json_high_bytes { latin1, utf8 };

// Appends `count` bytes at `bytes` to `out` as a JSON string: the quote and
// the backslash escaped, \b \t \n \f \r for those controls, \u00XX for the
// other bytes below 0x20; every other byte below 0x80 (0x7F too) as it is.
void append_json_bytes(std::string& out, const std::uint8_t* bytes, std::size_t count,
                       json_high_bytes high = json_high_bytes::latin1);

void append_json_string(std::string& out, std::string_view text,
                        json_high_bytes high = json_high_bytes::latin1);

} // namespace cassmak::core
