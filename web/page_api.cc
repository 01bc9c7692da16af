#include "page_api.h"

#include "basic/checker.h"
#include "tape/reader.h"

#include <cstdio>

namespace {

void append_field(std::string& out, const char* key, std::size_t value)
{
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

void append_field(std::string& out, const char* key, std::string_view value)
{
    out += ",\"";
    out += key;
    out += "\":";
    append_json_string(out, value);
}

} // namespace

void append_json_string(std::string& out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x80) {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        }
    }
    out += '"';
}

std::string tape_entries_json(const std::uint8_t* image, std::size_t size)
{
    std::string out = "{\"entries\":[";
    bool first = true;
    for (const tape_entry& entry : read_tape_image(image, size)) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"entry\":" + std::to_string(entry.entry);
        append_field(out, "offset", entry.offset);
        append_field(out, "kind", entry_kind_name(entry.kind));
        append_field(out, "length", entry.length);
        if (entry.kind == entry_kind::file) {
            append_field(out, "number", std::size_t{entry.number});
            append_field(out, "type",
                         std::string_view(reinterpret_cast<const char*>(&entry.type), 1));
            append_field(out, "address", std::size_t{entry.address});
            append_field(out, "name",
                         std::string_view(reinterpret_cast<const char*>(entry.name.data()),
                                          entry.name.size()));
        }
        append_field(out, "checksums", checksum_state_name(entry));
        append_field(out, "problem", entry.problem);
        append_field(out, "payload_offset", entry.payload_offset);
        append_field(out, "payload_size", entry.payload_size);
        out += '}';
    }
    return out + "]}";
}

std::string_view fix_of(std::string_view kind)
{
    struct row {
        std::string_view kind, fix;
    };
    static const row fixes[] = {
        {"bom", "save without the mark"},
        {"no-number", "start each line with its number"},
        {"split-line", "keep lines within 126 characters"},
        {"number-range", "use 0 to 65535"},
        {"order", "move or renumber the line"},
        {"lower-case-keyword", "write keywords in upper case"},
        {"non-ascii", "plain ASCII, or put the text in quotes"},
        {"nul", "remove it"},
        {"cr-line-ends", "LF or CR LF line ends"},
        {"unclosed-string", "close the string"},
        {"too-large", "shorten the program"},
        {"empty-line-number", "add a statement or remove the line"},
        {"source-size", "keep the source within those sizes"},
    };
    for (const row& r : fixes)
        if (r.kind == kind)
            return r.fix;
    return {};
}

std::string source_warnings_json(std::string_view source)
{
    std::string out = "{\"warnings\":[";
    bool first = true;
    for (const check_warning& warning : check_basic_source(source)) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"line\":" + std::to_string(warning.line);
        append_field(out, "column", warning.column);
        append_field(out, "kind", check_kind_name(warning.kind));
        append_field(out, "message", warning.message);
        append_field(out, "fix", fix_of(check_kind_name(warning.kind)));
        out += '}';
    }
    return out + "]}";
}
