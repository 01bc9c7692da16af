#include "casstool/json_lines.h"

#include "casstool/digits.h"
#include "tape/words.h"

#include <cstdio>

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

// Quotes bytes as a JSON string. With `utf8`, valid UTF-8 sequences stay as
// they are; every other byte of 0x80 or above becomes the code point of the
// same value.
void append_json_bytes(std::string& out, const std::uint8_t* bytes, std::size_t count, bool utf8)
{
    out += '"';
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        const std::size_t sequence = utf8 && byte >= 0x80 ? utf8_length(bytes + i, count - i) : 0;
        if (sequence > 0) {
            out.append(reinterpret_cast<const char*>(bytes + i), sequence);
            i += sequence - 1;
        } else if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
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
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            }
        }
    }
    out += '"';
}

void append_json_string(std::string& out, const std::uint8_t* bytes, std::size_t count)
{
    append_json_bytes(out, bytes, count, false);
}

void append_json_string(std::string& out, const std::string& text)
{
    append_json_bytes(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), false);
}

} // namespace

std::string json_line_start(const std::string& path)
{
    std::string out = "{\"image\":";
    append_json_bytes(out, reinterpret_cast<const std::uint8_t*>(path.data()), path.size(), true);
    return out + ",\"entry\":";
}

void append_json(std::string& out, const std::string& path, const tape_entry& entry,
                 std::uint64_t base)
{
    append_json_line(out, json_line_start(path), entry, base);
}

void append_json_line(std::string& out, const std::string& start, const tape_entry& entry,
                      std::uint64_t base)
{
    out += start;
    append_number(out, entry.entry);
    out += ",\"offset\":";
    append_number(out, base + entry.offset);
    out += ",\"kind\":\"";
    out += entry_kind_name(entry.kind);
    out += "\",\"length\":";
    append_number(out, entry.length);
    if (entry.kind == entry_kind::file) {
        out += ",\"number\":";
        append_number(out, entry.number);
        out += ",\"type\":";
        append_json_string(out, &entry.type, 1);
        out += ",\"address\":";
        append_number(out, entry.address);
        out += ",\"name\":";
        append_json_string(out, entry.name.data(), entry.name.size());
        out += ",\"header_checksum\":";
        out += entry.header_checksum_good ? "true" : "false";
        out += ",\"data_checksum\":";
        out += entry.data_checksum == data_checksum_state::absent ? "null"
               : entry.data_checksum == data_checksum_state::good ? "true"
                                                                  : "false";
    }
    out += ",\"problem\":";
    if (entry_damaged(entry))
        append_json_string(out, entry.problem);
    else
        out += "null";
    out += "}\n";
}
