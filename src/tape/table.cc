#include "tape/table.h"

#include "tape/words.h"

#include <algorithm>
#include <cstring>

namespace cassmak::core {

namespace {

void append_count(std::string& out, std::size_t count, const char* one, const char* many)
{
    append_number(out, count);
    out += ' ';
    out += count == 1 ? one : many;
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

} // namespace cassmak::core
