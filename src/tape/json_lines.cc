#include "tape/json_lines.h"

#include "tape/digits.h"
#include "tape/json.h"
#include "tape/words.h"

namespace cassmak::core {

std::string json_line_start(const std::string& path)
{
    std::string out = "{\"image\":";
    append_json_string(out, path, json_high_bytes::utf8);
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
        append_json_bytes(out, &entry.type, 1);
        out += ",\"address\":";
        append_number(out, entry.address);
        out += ",\"name\":";
        append_json_bytes(out, entry.name.data(), entry.name.size());
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

} // namespace cassmak::core
