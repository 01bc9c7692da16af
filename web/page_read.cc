// The page's reading of a tape: its entries as `casstool list` shows them, and
// a BASIC payload listed as `casstool basic` lists it.
#include "page_api.h"
#include "page_json.h"

#include "basic/detokenizer.h"
#include "tape/limits.h"
#include "tape/reader.h"

using namespace cassmak::core;

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
