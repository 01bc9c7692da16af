#include "casstool/table.h"

#include "casstool/image.h"

#include <algorithm>
#include <cstdio>

namespace {

void append_number(std::string& out, std::size_t value)
{
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%zu", value);
    out.append(digits, static_cast<std::size_t>(length));
}

// Quotes stored bytes for the table, escaping what a terminal would not show.
std::string quoted(const std::uint8_t* bytes, std::size_t count, char quote)
{
    std::string out(1, quote);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == static_cast<std::uint8_t>(quote) || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        }
    }
    out += quote;
    return out;
}

void append_count(std::string& out, std::size_t count, const char* one, const char* many)
{
    append_number(out, count);
    out += ' ';
    out += count == 1 ? one : many;
}

// Writes `value` right-aligned in `width` columns (or more when it needs
// them) and returns the end.
char* put_right(char* at, std::uint64_t value, int width)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i)
        *at++ = ' ';
    while (count > 0)
        *at++ = digits[--count];
    return at;
}

char* put_text(char* at, const char* text)
{
    while (*text != '\0')
        *at++ = *text++;
    return at;
}

} // namespace

// The columns of append_row, each as wide as its field.
const char* const table_heading =
    "entry   offset  kind       no  type   addr    length  name          checksums\n";

void append_row(std::string& out, const tape_entry& entry, std::uint64_t base)
{
    const std::uint64_t offset = base + entry.offset;
    char row[160];
    std::size_t length = 0;
    if (entry.kind == entry_kind::file) {
        const int written = std::snprintf(
            row, sizeof row, "%5zu %8llu  %-9s %3u  %-6s 0x%04X %7zu  %-12s  %s", entry.entry,
            static_cast<unsigned long long>(offset), "file", entry.number,
            quoted(&entry.type, 1, '\'').c_str(), entry.address, entry.length,
            quoted(entry.name.data(), entry.name.size(), '"').c_str(), checksum_state_name(entry));
        length = std::min(sizeof row - 1, static_cast<std::size_t>(written));
    } else {
        // Written without snprintf: an image of empty blocks has one such row
        // per two bytes.
        char* at = row;
        at = put_right(at, entry.entry, 5);
        *at++ = ' ';
        at = put_right(at, offset, 8);
        at = put_text(at, "  ");
        at = put_text(at, kind_name(entry.kind));
        at = put_text(at, entry.kind == entry_kind::headless ? " " : "");
        at = put_text(at, "   -  -      -      ");
        at = put_right(at, entry.length, 7);
        at = put_text(at, "  -             -");
        length = static_cast<std::size_t>(at - row);
    }
    out.append(row, length);
    if (entry_damaged(entry)) {
        out += "  ";
        out += entry.problem;
    }
    out += '\n';
}

void count_entry(table_summary& summary, const tape_entry& entry)
{
    ++summary.entries;
    ++summary.counts[static_cast<int>(entry.kind)];
    if (entry_damaged(entry)) {
        if (summary.damaged.size() < table_summary::shown)
            summary.damaged.push_back(entry.entry);
        ++summary.damaged_count;
    }
}

void append_summary(std::string& out, const table_summary& summary)
{
    if (summary.entries == 0) {
        out += "empty image, nothing stored\n";
        return;
    }
    append_count(out, summary.counts[0], "file", "files");
    out += ", ";
    append_count(out, summary.counts[1], "headless block", "headless blocks");
    if (summary.counts[2] > 0) {
        out += ", ";
        append_count(out, summary.counts[2], "truncated tail", "truncated tails");
    }
    if (summary.damaged_count == 0) {
        out += ", all checksums good\n";
        return;
    }
    out += "; damaged: ";
    out += summary.damaged_count == 1 ? "entry " : "entries ";
    for (std::size_t i = 0; i < summary.damaged.size(); ++i) {
        if (i > 0)
            out += ", ";
        append_number(out, summary.damaged[i]);
    }
    if (summary.damaged_count > summary.damaged.size())
        out += ", ...";
    out += '\n';
}

void append_table_head(std::string& out, const std::string& path, bool size_known,
                       std::uint64_t size)
{
    out += path;
    out += ": ";
    if (size_known)
        append_count(out, static_cast<std::size_t>(size), "byte", "bytes");
    else
        out += "read as a stream";
    out += '\n';
}

std::string image_table(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    std::string out;
    append_table_head(out, path, true, size);
    const std::vector<tape_entry> entries = read_tape_image(bytes, size);
    if (!entries.empty())
        out += table_heading;
    table_summary summary;
    for (const tape_entry& entry : entries) {
        append_row(out, entry, 0);
        count_entry(summary, entry);
    }
    append_summary(out, summary);
    return out;
}

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

void append_json(std::string& out, const std::string& path, const tape_entry& entry,
                 std::uint64_t base)
{
    out += "{\"image\":";
    append_json_bytes(out, reinterpret_cast<const std::uint8_t*>(path.data()), path.size(), true);
    out += ",\"entry\":";
    append_number(out, entry.entry);
    out += ",\"offset\":";
    append_number(out, static_cast<std::size_t>(base + entry.offset));
    out += ",\"kind\":\"";
    out += kind_name(entry.kind);
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
