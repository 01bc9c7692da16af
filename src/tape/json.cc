#include "tape/json.h"

#include <cstdio>

namespace cassmak::core {

namespace {

// The length of the valid UTF-8 sequence at `bytes`, or 0.
std::size_t utf8_length(const std::uint8_t* bytes, std::size_t count)
{
    const std::uint8_t lead = bytes[0];
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (count < length || bytes[1] < low || bytes[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (bytes[i] < 0x80 || bytes[i] > 0xBF)
            return 0;
    return length;
}

// \uXXXX for the UTF-16 unit `unit`.
void append_escape(std::string& out, unsigned unit)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    out += escape;
}

} // namespace

void append_json_bytes(std::string& out, const std::uint8_t* bytes, std::size_t count,
                       json_high_bytes high)
{
    out += '"';
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        const std::size_t sequence =
            high == json_high_bytes::utf8 && byte >= 0x80 ? utf8_length(bytes + i, count - i) : 0;
        if (sequence > 0) {
            out.append(reinterpret_cast<const char*>(bytes + i), sequence);
            i += sequence - 1;
        } else if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x80 && high == json_high_bytes::utf8) {
            // Python's surrogateescape: a byte no text can mean, told apart
            // from the character of the same value.
            append_escape(out, 0xDC00U | byte);
        } else if (byte >= 0x80) {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte >= 0x20) {
            out += static_cast<char>(byte);
        } else {
            static const char short_escapes[] = "btn\0fr";
            if (byte >= '\b' && byte <= '\r' && byte != 0x0B) {
                out += '\\';
                out += short_escapes[byte - '\b'];
            } else {
                append_escape(out, byte);
            }
        }
    }
    out += '"';
}

void append_json_string(std::string& out, std::string_view text, json_high_bytes high)
{
    append_json_bytes(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), high);
}

} // namespace cassmak::core
