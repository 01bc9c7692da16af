// The page's reading of a tape: its entries as `casstool list` shows them, and
// a BASIC payload listed as `casstool basic` lists it.
#include "page_api.h"
#include "page_json.h"

#include "basic/detokenizer.h"
#include "tape/limits.h"
#include "tape/reader.h"

#include <utility>

using namespace cassmak::core;

held_tape hold_tape(std::vector<std::uint8_t> bytes)
{
    held_tape tape;
    tape.bytes = std::move(bytes);
    tape_entry entry;
    for (std::size_t at = 0;
         next_tape_entry(tape.bytes.data(), tape.bytes.size(), at, false, entry);
         at += entry.span) {
        if (tape.count % tape_mark_stride == 0)
            tape.marks.push_back(at);
        ++tape.count;
        tape.damaged = tape.damaged || entry_damaged(entry);
    }
    return tape;
}

std::string held_tape_json(const held_tape& tape)
{
    std::string out = "{\"count\":" + std::to_string(tape.count);
    append_field(out, "size", tape.bytes.size());
    return out + ",\"damaged\":" + (tape.damaged ? "true}" : "false}");
}

std::string tape_rows_json(const held_tape& tape, std::size_t first, std::size_t count)
{
    std::string out = "{\"entries\":[";
    if (first >= tape.count)
        return out + "]}";
    const std::uint8_t* image = tape.bytes.data();
    const std::size_t size = tape.bytes.size();
    std::size_t number = first - first % tape_mark_stride;
    tape_entry entry;
    for (std::size_t at = tape.marks[number / tape_mark_stride];
         number < first + count && next_tape_entry(image, size, at, false, entry);
         at += entry.span) {
        entry.entry = ++number;
        if (number <= first)
            continue;
        out += number == first + 1 ? "{" : ",{";
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

std::string tape_size_message(const std::string& name, std::uint64_t size)
{
    return size > largest_image ? name + ": " + std::string(image_too_large) : std::string();
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
