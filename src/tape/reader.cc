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
    if (size - at < block_length_size)
        return block;
    block.length = load_word(image + at);
    block.body = at + block_length_size;
    block.whole = size - block.body >= block.length;
    return block;
}

bool is_header(const std::uint8_t* image, const block_view& block)
{
    if (!block.whole || block.length != header_body_size)
        return false;
    const std::uint8_t* sync = image + block.body;
    for (std::size_t i = 0; i < sync_size; ++i)
        if (sync[i] != sync_byte(i))
            return false;
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
    entry.number = head[head_number];
    entry.type = head[head_type];
    entry.address = load_word(head + head_address);
    entry.length = static_cast<std::size_t>(load_word(head + head_length)) + 1;
    std::memcpy(entry.name.data(), head + head_name, entry.name.size());
    entry.header_checksum_good = sum(head, file_head_size) == head[file_head_size];
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
            read_header(image + block.body + file_head_offset, entry);
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
            entry.span =
                entry.kind == entry_kind::truncated ? size - at : block_length_size + block.length;
        at += entry.span;
        entries.push_back(std::move(entry));
    }
    return entries;
}
