#include "tape/reader.h"

#include <cstring>

namespace {

// The body of the block whose length field sits at `at`; `whole` is false when
// the image ends before the block does.
struct block_view {
    bool whole = false;
    std::size_t body = 0;   // offset of the first body byte
    std::size_t length = 0; // from the length field
};

block_view view_block(const std::uint8_t* image, std::size_t size, std::size_t at)
{
    block_view block;
    if (size - at < 2)
        return block;
    block.length = static_cast<std::size_t>(image[at]) | static_cast<std::size_t>(image[at + 1])
                                                             << 8;
    block.body = at + 2;
    block.whole = size - block.body >= block.length;
    return block;
}

bool is_header(const std::uint8_t* image, const block_view& block)
{
    if (!block.whole || block.length != header_body_size)
        return false;
    const std::uint8_t* sync = image + block.body;
    for (std::size_t i = 0; i < sync_size; ++i) {
        const std::uint8_t expected = i < 16 ? 0xFF : i < 32 ? 0x00 : 0x55;
        if (sync[i] != expected)
            return false;
    }
    return true;
}

std::uint8_t sum(const std::uint8_t* bytes, std::size_t count)
{
    // Summed in a wide accumulator so that the compiler can vectorise the
    // loop; only the low 8 bits count.
    unsigned total = 0;
    for (std::size_t i = 0; i < count; ++i)
        total += bytes[i];
    return static_cast<std::uint8_t>(total);
}

void add_problem(std::string& problem, const std::string& text)
{
    if (!problem.empty())
        problem += ", ";
    problem += text;
}

void read_header(const std::uint8_t* head, tape_entry& entry)
{
    entry.kind = entry_kind::file;
    entry.number = head[0];
    entry.type = head[1];
    entry.address = static_cast<std::uint16_t>(head[2] | head[3] << 8);
    entry.length = (static_cast<std::size_t>(head[4]) | static_cast<std::size_t>(head[5]) << 8) + 1;
    std::memcpy(entry.name.data(), head + 6, entry.name.size());
    entry.header_checksum_good = sum(head, 14) == head[14];
    if (!entry.header_checksum_good)
        entry.problem = "bad header checksum";
}

void read_data(const std::uint8_t* image, const block_view& data, tape_entry& entry)
{
    if (data.length != entry.length + 1)
        add_problem(entry.problem, "data block of " + std::to_string(data.length) +
                                       " bytes, header wants " + std::to_string(entry.length + 1));
    entry.payload_offset = data.body;
    entry.payload_size = data.length == 0 ? 0 : data.length - 1;
    const bool good = data.length > 0 && sum(image + data.body, entry.payload_size) ==
                                             image[data.body + data.length - 1];
    entry.data_checksum = good ? data_checksum_state::good : data_checksum_state::bad;
    if (!good)
        add_problem(entry.problem, "bad data checksum");
}

} // namespace

std::vector<tape_entry> read_tape_image(const std::uint8_t* image, std::size_t size)
{
    std::vector<tape_entry> entries;
    std::size_t at = 0;
    while (at < size) {
        tape_entry entry;
        entry.entry = entries.size() + 1;
        entry.offset = at;
        const block_view block = view_block(image, size, at);
        if (!block.whole) {
            entry.kind = entry_kind::truncated;
            entry.length = size - at;
            entry.payload_offset = at;
            entry.payload_size = size - at;
            entry.problem = size - at < 2
                                ? "1 byte, too short for a length field"
                                : "block of " + std::to_string(block.length) +
                                      " bytes cut short after " + std::to_string(size - block.body);
        } else if (is_header(image, block)) {
            read_header(image + block.body + sync_size, entry);
            const std::size_t after = block.body + block.length;
            const block_view data = view_block(image, size, after);
            if (data.whole) {
                read_data(image, data, entry);
                entry.span = data.body + data.length - at;
            } else {
                add_problem(entry.problem, "no data block");
                entry.span = after - at;
            }
        } else {
            entry.kind = entry_kind::headless;
            entry.length = block.length;
            entry.payload_offset = block.body;
            entry.payload_size = block.length;
        }
        if (entry.kind != entry_kind::file)
            entry.span = entry.kind == entry_kind::truncated ? size - at : 2 + block.length;
        at += entry.span;
        entries.push_back(std::move(entry));
    }
    return entries;
}
