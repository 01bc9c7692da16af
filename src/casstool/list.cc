#include "casstool/args.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"
#include "tape/reader.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string list_usage()
{
    return "Usage: casstool list [--json] IMAGE...\n"
           "Lists the entries of each image: a table with one row per entry (entry, offset,\n"
           "kind, file number, type, address, payload length, name, checksums, problem) and a\n"
           "summary line per image.\n"
           "\n"
           "  --json  one JSON object per entry and line (JSON Lines) instead of the table\n"
           "\n"
           "Exit status: 0 all sound, 1 an entry is damaged, 2 an image cannot be read\n"
           "(the others are still listed).\n";
}

struct list_options {
    bool json = false;
    std::vector<std::string> images;
};

int parse_list(const std::vector<std::string>& arguments, list_options& options)
{
    const int status = walk_arguments("list", arguments, options.images,
                                      [&](const std::string& option, argument_cursor&) {
                                          if (option != "--json")
                                              return unknown_option;
                                          options.json = true;
                                          return tool_ok;
                                      });
    if (status == tool_ok && options.images.empty())
        return usage_error("list", "no image given");
    return status;
}

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

const char* checksum_state(const tape_entry& entry)
{
    if (entry.kind != entry_kind::file)
        return "-";
    const bool header = entry.header_checksum_good;
    switch (entry.data_checksum) {
    case data_checksum_state::good: return header ? "good" : "header bad";
    case data_checksum_state::bad: return header ? "data bad" : "both bad";
    case data_checksum_state::absent: break;
    }
    return header ? "no data" : "header bad, no data";
}

// The columns of append_row, each as wide as its field.
const char* const table_heading =
    "entry   offset  kind       no  type   addr    length  name          checksums\n";

void append_row(std::string& out, const tape_entry& entry)
{
    char row[160];
    if (entry.kind == entry_kind::file) {
        std::snprintf(row, sizeof row, "%5zu %8zu  %-9s %3u  %-6s 0x%04X %7zu  %-12s  %s",
                      entry.entry, entry.offset, "file", entry.number,
                      quoted(&entry.type, 1, '\'').c_str(), entry.address, entry.length,
                      quoted(entry.name.data(), entry.name.size(), '"').c_str(),
                      checksum_state(entry));
    } else {
        std::snprintf(row, sizeof row, "%5zu %8zu  %-9s %3s  %-6s %-6s %7zu  %-12s  %s",
                      entry.entry, entry.offset, kind_name(entry.kind), "-", "-", "-", entry.length,
                      "-", "-");
    }
    out += row;
    if (entry_damaged(entry)) {
        out += "  ";
        out += entry.problem;
    }
    out += '\n';
}

void append_count(std::string& out, std::size_t count, const char* one, const char* many)
{
    append_number(out, count);
    out += ' ';
    out += count == 1 ? one : many;
}

void append_summary(std::string& out, const std::vector<tape_entry>& entries)
{
    if (entries.empty()) {
        out += "empty image, nothing stored\n";
        return;
    }
    std::size_t counts[3] = {0, 0, 0};
    std::vector<std::size_t> damaged;
    for (const tape_entry& entry : entries) {
        ++counts[static_cast<int>(entry.kind)];
        if (entry_damaged(entry))
            damaged.push_back(entry.entry);
    }
    append_count(out, counts[0], "file", "files");
    out += ", ";
    append_count(out, counts[1], "headless block", "headless blocks");
    if (counts[2] > 0) {
        out += ", ";
        append_count(out, counts[2], "truncated tail", "truncated tails");
    }
    if (damaged.empty()) {
        out += ", all checksums good\n";
        return;
    }
    out += "; damaged: ";
    out += damaged.size() == 1 ? "entry " : "entries ";
    constexpr std::size_t shown = 10;
    for (std::size_t i = 0; i < damaged.size() && i < shown; ++i) {
        if (i > 0)
            out += ", ";
        append_number(out, damaged[i]);
    }
    if (damaged.size() > shown)
        out += ", ...";
    out += '\n';
}

void append_table(std::string& out, const std::string& path, std::size_t size,
                  const std::vector<tape_entry>& entries)
{
    out += path;
    out += ": ";
    append_count(out, size, "byte", "bytes");
    out += '\n';
    if (!entries.empty())
        out += table_heading;
    for (const tape_entry& entry : entries)
        append_row(out, entry);
    append_summary(out, entries);
}

// Each byte becomes the code point of the same value.
void append_json_string(std::string& out, const std::uint8_t* bytes, std::size_t count)
{
    out += '"';
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == '"' || byte == '\\') {
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

void append_json_string(std::string& out, const std::string& text)
{
    append_json_string(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void append_json(std::string& out, const std::string& path, const tape_entry& entry)
{
    out += "{\"image\":";
    append_json_string(out, path);
    out += ",\"entry\":";
    append_number(out, entry.entry);
    out += ",\"offset\":";
    append_number(out, entry.offset);
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

int run_list(const list_options& options)
{
    int status = tool_ok;
    std::vector<std::uint8_t> buffer;
    std::string out;
    bool first = true;
    for (const std::string& path : options.images) {
        std::size_t size = 0;
        if (load_image(path, buffer, size) != tool_ok) {
            status = tool_failed;
            continue;
        }
        const std::vector<tape_entry> entries = read_tape_image(buffer.data(), size);
        out.clear();
        if (!options.json && !first)
            out += '\n';
        first = false;
        if (options.json) {
            for (const tape_entry& entry : entries)
                append_json(out, path, entry);
        } else {
            append_table(out, path, size, entries);
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (status == tool_ok && std::any_of(entries.begin(), entries.end(), entry_damaged))
            status = tool_damaged;
    }
    return finish_stdout(status);
}

} // namespace

extern const tool_command list_command; // a row of the table in commands.cc
const tool_command list_command = {
    "list",
    "list [--json] IMAGE...",
    "list and verify the entries of each image",
    list_usage,
    parse_and_run<list_options, parse_list, run_list>,
    parse_only<list_options, parse_list>,
};
