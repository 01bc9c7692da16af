#include "page_api.h"

#include "basic/checker.h"
#include "basic/detokenizer.h"
#include "cassmak/options.h"
#include "cassmak/run.h"
#include "cassmak/status.h"
#include "tape/blocks.h"
#include "tape/edit.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

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

std::string tape_entries_json(const std::uint8_t* image, std::size_t size, std::size_t shown)
{
    // One entry at a time, so that an image of many millions of tiny blocks
    // costs the page no more memory than its first `shown` rows.
    std::string out = "{\"entries\":[";
    std::size_t count = 0;
    tape_entry entry;
    for (std::size_t at = 0; next_tape_entry(image, size, at, false, entry); at += entry.span) {
        entry.entry = ++count;
        if (count > shown)
            continue;
        out += count == 1 ? "{" : ",{";
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
    out += "]";
    append_field(out, "count", count);
    return out + "}";
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
        append_field(out, "column", warning.display_column);
        append_field(out, "kind", check_kind_name(warning.kind));
        append_field(out, "message", warning.message);
        append_field(out, "fix", fix_of(check_kind_name(warning.kind)));
        out += '}';
    }
    return out + "]}";
}

std::string option_message(const std::string& option, const std::string& value)
{
    // cassmak's own rules, value by value. In a 32-bit build a number past
    // 2^31 saturates where the native build reads it whole; either way it is
    // out of every range.
    int status = status_ok;
    if (option == "-a") {
        const long address = parse_number(value.c_str());
        if (address < 0 || address > 0xFFFF)
            status = status_bad_address;
    } else if (option == "-n") {
        const long number = parse_number(value.c_str());
        if (number < 0 || number > 99)
            status = status_bad_number;
    } else if (option == "-t") {
        const auto type = static_cast<signed char>(value.size() <= 1 ? value.c_str()[0] : 0);
        if (type <= 0x20 || type == 0x7F)
            status = status_bad_type;
    } else if (option == "-m") {
        if (std::strlen(value.c_str()) > name_width)
            status = status_bad_name;
    }
    return status == status_ok ? std::string() : status_message(status, option);
}

std::string input_size_message(bool basic, const std::string& name, std::size_t size)
{
    const int low = basic ? basic_source_min : binary_min;
    const int high = basic ? basic_source_max : binary_max;
    if (size >= static_cast<std::size_t>(low) && size <= static_cast<std::size_t>(high))
        return {};
    return status_message(status_input_size, name, low, high);
}

packed_file pack_file(const std::vector<std::string>& arguments, const std::string& name,
                      const std::uint8_t* input, std::size_t size)
{
    packed_file packed;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        packed.message = option_message(arguments[i], arguments[i + 1]);
        if (!packed.message.empty())
            return packed;
    }
    std::vector<const char*> argv = {"cassmak"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    conversion_settings settings;
    // The input is set here rather than given as an argument, so that a file
    // called "-b" stays a file.
    int status = parse_arguments(static_cast<int>(argv.size()), argv.data(), settings);
    if (status == status_ok && !settings.input_path) {
        settings.input_path = name;
        status = complete_settings(settings);
    }
    if (status != status_ok) {
        packed.message = status_message(status, "");
        return packed;
    }
    packed.message = input_size_message(settings.basic, name, size);
    if (!packed.message.empty())
        return packed;
    std::vector<std::uint8_t> payload(payload_capacity);
    int length = static_cast<int>(size);
    if (settings.basic) {
        packed.import = import_basic(payload.data(), payload_capacity,
                                     std::string_view(reinterpret_cast<const char*>(input), size));
        if (packed.import.length == import_too_large) {
            packed.message = status_message(status_basic_too_large, name, 0, packed.import.limit);
            return packed;
        }
        length = packed.import.length;
    } else {
        std::memcpy(payload.data(), input, size);
    }
    if (settings.headless)
        put_headless_block(packed.image, payload.data(), length);
    else
        put_tape_file(packed.image, payload.data(), length, settings.file_type,
                      static_cast<int>(settings.file_number), settings.name,
                      static_cast<int>(settings.address));
    return packed;
}

std::string packed_file_json(const packed_file& packed)
{
    std::string out = "{\"message\":";
    append_json_string(out, packed.message);
    append_field(out, "length", packed.image.size());
    out += ",\"warnings\":[";
    bool first = true;
    // cassmak's texts for them, in its order, without the tab and line end.
    const auto add = [&](std::int32_t number, const std::string& text) {
        out += first ? "{" : ",{";
        first = false;
        out += "\"line\":" + std::to_string(number);
        append_field(out, "text", text);
        out += '}';
    };
    for (const import_line& line : packed.import.lines) {
        if (line.long_line)
            add(line.number, "Line is long. Possible problem!");
        if (line.wrong_order)
            add(line.number,
                "Wrong order of line. Last line " + std::to_string(line.previous_number));
        if (line.short_line)
            add(line.number, "Line is short. Possible problem!");
    }
    return out + "]}";
}

std::string basic_listing_json(const std::uint8_t* payload, std::size_t size)
{
    const basic_listing listing = list_basic_program(payload, size);
    std::string out = "{\"text\":";
    append_json_string(out, listing.text);
    out += ",\"warnings\":[";
    for (std::size_t i = 0; i < listing.warnings.size(); ++i) {
        if (i > 0)
            out += ',';
        append_json_string(out, listing.warnings[i]);
    }
    return out + "]}";
}

namespace {

std::string no_entry(std::size_t index)
{
    return "there is no entry " + std::to_string(index + 1);
}

edited_tape assembled(const std::vector<entry_piece>& pieces)
{
    edited_tape result;
    const std::size_t open = first_open_inside(pieces);
    if (open < pieces.size())
        result.message = "entry " + std::to_string(pieces[open].index + 1) +
                         " is cut short and keeps its meaning only at the end of the tape";
    else
        result.image = assemble_image(pieces);
    return result;
}

bool number_within(const std::string& text, unsigned long high)
{
    unsigned long value = 0;
    return parse_field_number(text, value) && value <= high;
}

} // namespace

edited_tape remove_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index)
{
    const tape_image image = make_tape_image(std::move(bytes));
    if (index >= image.entries.size())
        return {no_entry(index), {}};
    std::vector<bool> removed(image.entries.size());
    removed[index] = true;
    return assembled(remove_entries(image, removed));
}

edited_tape move_tape_entry(std::vector<std::uint8_t> bytes, std::size_t from, std::size_t to)
{
    const tape_image image = make_tape_image(std::move(bytes));
    if (from >= image.entries.size() || to >= image.entries.size())
        return {no_entry(std::max(from, to)), {}};
    return assembled(move_entry(image, from, to));
}

std::string retag_message(const std::string& field, const std::string& value)
{
    std::array<std::uint8_t, name_width> name{};
    if (value.empty())
        return {};
    if (field == "name" && !make_name_field(value, name))
        return "a name has at most 8 characters";
    if (field == "number" && !number_within(value, 99))
        return "a file number is 0 to 99 (decimal, 0x hex or 0 octal), with nothing after it";
    if (field == "type" && !valid_file_type(value))
        return "a file type is one printable ASCII character other than a space";
    if (field == "address" && !number_within(value, 0xFFFF))
        return "an address is 0 to 65535 (decimal, 0x hex or 0 octal), with nothing after it";
    return {};
}

edited_tape retag_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index,
                             const retag_fields& fields)
{
    tape_image image = make_tape_image(std::move(bytes));
    if (index >= image.entries.size())
        return {no_entry(index), {}};
    const tape_entry& entry = image.entries[index];
    if (entry.kind != entry_kind::file)
        return {"entry " + std::to_string(index + 1) + " is a " + entry_kind_name(entry.kind) +
                    " block and has no header to change",
                {}};
    const std::pair<const char*, const std::string*> typed[] = {
        {"name", &fields.name},
        {"number", &fields.number},
        {"type", &fields.type},
        {"address", &fields.address},
    };
    for (const auto& [field, value] : typed) {
        std::string message = retag_message(field, *value);
        if (!message.empty())
            return {std::move(message), {}};
    }
    header_change change;
    unsigned long value = 0;
    if (!fields.name.empty())
        make_name_field(fields.name, change.name.emplace());
    if (parse_field_number(fields.number, value))
        change.number = static_cast<std::uint8_t>(value);
    if (!fields.type.empty())
        change.type = static_cast<std::uint8_t>(fields.type[0]);
    if (parse_field_number(fields.address, value))
        change.address = static_cast<std::uint16_t>(value);
    apply_header_change(image.bytes, entry, change);
    return {{}, std::move(image.bytes)};
}
