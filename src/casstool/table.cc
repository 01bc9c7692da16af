#include "casstool/table.h"

#include "tape/words.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

char* put_right(char* at, std::uint64_t value, int width);

void append_number(std::string& out, std::uint64_t value)
{
    char digits[24];
    out.append(digits, static_cast<std::size_t>(put_right(digits, value, 0) - digits));
}

void append_count(std::string& out, std::size_t count, const char* one, const char* many)
{
    append_number(out, count);
    out += ' ';
    out += count == 1 ? one : many;
}

// Writes `value` right-aligned in `width` columns (or more when it needs
// them) and returns the end: two digits a step, from a table, written from
// the right where they belong.
char* put_right(char* at, std::uint64_t value, int width)
{
    static const char pairs[] = "00010203040506070809101112131415161718192021222324252627282930"
                                "31323334353637383940414243444546474849505152535455565758596061"
                                "62636465666768697071727374757677787980818283848586878889909192"
                                "93949596979899";
    int count = 1;
    for (std::uint64_t power = 10; count < 20 && value >= power; power *= 10)
        ++count;
    for (int i = count; i < width; ++i)
        *at++ = ' ';
    char* end = at + count;
    char* digit = end;
    while (value >= 100) {
        const auto pair = static_cast<std::size_t>(value % 100) * 2;
        value /= 100;
        digit -= 2;
        digit[0] = pairs[pair];
        digit[1] = pairs[pair + 1];
    }
    if (value >= 10) {
        const auto pair = static_cast<std::size_t>(value) * 2;
        digit[-2] = pairs[pair];
        digit[-1] = pairs[pair + 1];
    } else {
        digit[-1] = static_cast<char>('0' + value);
    }
    return end;
}

template <std::size_t size> char* put_text(char* at, const char (&text)[size])
{
    std::memcpy(at, text, size - 1);
    return at + size - 1;
}

// Stored bytes quoted for the table, what a terminal would not show escaped,
// left-aligned in `width` columns.
char* put_quoted(char* at, const std::uint8_t* bytes, std::size_t count, char quote, int width)
{
    static const char hex_digits[] = "0123456789ABCDEF";
    char* start = at;
    *at++ = quote;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == static_cast<std::uint8_t>(quote) || byte == '\\') {
            *at++ = '\\';
            *at++ = static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            *at++ = static_cast<char>(byte);
        } else {
            *at++ = '\\';
            *at++ = 'x';
            *at++ = hex_digits[byte >> 4];
            *at++ = hex_digits[byte & 0x0F];
        }
    }
    *at++ = quote;
    while (at - start < width)
        *at++ = ' ';
    return at;
}

} // namespace

// The columns of table_rows::put, each as wide as its field.
const char* const table_heading =
    "entry   offset  kind       no  type   addr    length  name          checksums\n";

void counting_column::set(std::uint64_t value)
{
    char* last = text_ + room - 1;
    if (value >= value_ && value - value_ <= 1000000) {
        std::uint64_t add = value - value_;
        value_ = value;
        // Mostly one digit grows without a carry.
        if (add < 10 && *last - '0' + static_cast<int>(add) < 10) {
            *last = static_cast<char>(*last + static_cast<int>(add));
            return;
        }
        int carry = 0;
        for (char* digit = last; add != 0 || carry != 0; --digit) {
            if (*digit == ' ') {
                *digit = '0';
                ++count_;
            }
            const int sum = *digit - '0' + static_cast<int>(add % 10) + carry;
            add /= 10;
            carry = sum >= 10 ? 1 : 0;
            *digit = static_cast<char>('0' + sum - 10 * carry);
        }
        return;
    }
    value_ = value;
    std::memset(text_, ' ', sizeof text_);
    count_ = 0;
    char* digit = last;
    do {
        *digit-- = static_cast<char>('0' + value % 10);
        ++count_;
        value /= 10;
    } while (value != 0);
}

char* table_rows::put(char* at, const tape_entry& entry, std::uint64_t base)
{
    static const char hex_digits[] = "0123456789ABCDEF";
    number.set(entry.entry);
    at = number.put<5>(at);
    *at++ = ' ';
    offset.set(base + entry.offset);
    at = offset.put<8>(at);
    if (entry.kind == entry_kind::file) {
        at = put_text(at, "  file      ");
        at = put_right(at, entry.number, 3);
        at = put_text(at, "  ");
        at = put_quoted(at, &entry.type, 1, '\'', 6);
        at = put_text(at, " 0x");
        for (int shift = 12; shift >= 0; shift -= 4)
            *at++ = hex_digits[(entry.address >> shift) & 0x0F];
        *at++ = ' ';
        at = put_right(at, entry.length, 7);
        at = put_text(at, "  ");
        at = put_quoted(at, entry.name.data(), entry.name.size(), '"', 12);
        at = put_text(at, "  ");
        for (const char* state = checksum_state_name(entry); *state != '\0'; ++state)
            *at++ = *state;
    } else {
        at = entry.kind == entry_kind::headless ? put_text(at, "  headless    -  -      -      ")
                                                : put_text(at, "  truncated   -  -      -      ");
        at = put_right(at, entry.length, 7);
        at = put_text(at, "  -             -");
    }
    if (entry_damaged(entry)) {
        at = put_text(at, "  ");
        at = std::copy(entry.problem.begin(), entry.problem.end(), at);
    }
    *at++ = '\n';
    return at;
}

void append_row(std::string& out, const tape_entry& entry, std::uint64_t base)
{
    const std::size_t start = out.size();
    out.resize(start + row_room + entry.problem.size());
    table_rows rows;
    char* end = rows.put(&out[start], entry, base);
    out.resize(static_cast<std::size_t>(end - out.data()));
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
