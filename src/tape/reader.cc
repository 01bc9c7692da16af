#include "tape/reader.h"

#include <algorithm>
#include <cstring>

namespace cassmak::core {

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

std::uint8_t sum(const std::uint8_t* bytes, std::size_t count)
{
    // Summed in a wide accumulator so that the compiler can vectorise the
    // loop; only the low 8 bits count.
    unsigned total = 0;
    for (std::size_t i = 0; i < count; ++i)
        total += bytes[i];
    return static_cast<std::uint8_t>(total);
}

std::string bytes_text(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

void add_problem(std::string& problem, const std::string& text)
{
    if (!problem.empty())
        problem += ", ";
    problem += text;
}

void read_data(const std::uint8_t* image, const block_view& data, tape_entry& entry)
{
    if (data.length != entry.length + 1)
        add_problem(entry.problem, "data block of " + bytes_text(data.length) + ", header wants " +
                                       std::to_string(entry.length + 1));
    entry.payload_offset = data.body;
    entry.payload_size = data.length == 0 ? 0 : data.length - 1;
    const bool good = data.length > 0 && sum(image + data.body, entry.payload_size) ==
                                             image[data.body + data.length - 1];
    entry.data_checksum = good ? data_checksum_state::good : data_checksum_state::bad;
    if (!good)
        add_problem(entry.problem, "bad data checksum");
}

} // namespace

bool is_header_block(std::size_t length, const std::uint8_t* body)
{
    if (length != header_body_size)
        return false;
    for (std::size_t i = 0; i < sync_size; ++i)
        if (body[i] != sync_byte(i))
            return false;
    return true;
}

void read_file_head(const std::uint8_t* head, tape_entry& entry)
{
    entry.kind = entry_kind::file;
    entry.number = head[head_number];
    entry.type = head[head_type];
    entry.address = load_word(head + head_address);
    entry.length = static_cast<std::size_t>(load_word(head + head_length)) + 1;
    std::memcpy(entry.name.data(), head + head_name, entry.name.size());
    entry.header_checksum_good = sum(head, file_head_size) == head[file_head_size];
}

bool next_tape_entry(const std::uint8_t* image, std::size_t size, std::size_t at, bool more,
                     tape_entry& entry)
{
    // Field by field, keeping the problem's buffer: a walk over an image of
    // empty blocks comes here once every two bytes, and assigning a fresh
    // entry (with the buffer moved aside and back) made a listing of 64 MiB
    // of them a quarter slower.
    entry.entry = 0;
    entry.span = 0;
    entry.kind = entry_kind::headless;
    entry.length = 0;
    entry.number = 0;
    entry.type = 0;
    entry.address = 0;
    entry.name.fill(0);
    entry.header_checksum_good = false;
    entry.data_checksum = data_checksum_state::absent;
    entry.payload_offset = 0;
    entry.payload_size = 0;
    entry.problem.clear();
    entry.offset = at;
    if (at >= size)
        return false;
    const block_view block = view_block(image, size, at);
    if (!block.whole) {
        if (more)
            return false;
        entry.kind = entry_kind::truncated;
        entry.length = size - at;
        entry.payload_offset = at;
        entry.payload_size = size - at;
        entry.span = size - at;
        entry.problem = size - at < 2 ? "1 byte, too short for a length field"
                                      : "block of " + bytes_text(block.length) +
                                            " cut short after " + std::to_string(size - block.body);
        return true;
    }
    if (!is_header_block(block.length, image + block.body)) {
        entry.kind = entry_kind::headless;
        entry.length = block.length;
        entry.payload_offset = block.body;
        entry.payload_size = block.length;
        entry.span = block_length_size + block.length;
        return true;
    }
    const std::size_t after = block.body + block.length;
    const block_view data = view_block(image, size, after);
    if (!data.whole && more)
        return false;
    read_file_head(image + block.body + file_head_offset, entry);
    if (!entry.header_checksum_good)
        entry.problem = "bad header checksum";
    if (data.whole) {
        read_data(image, data, entry);
        entry.span = data.body + data.length - at;
    } else {
        add_problem(entry.problem, "no data block");
        entry.span = after - at;
    }
    return true;
}

std::vector<tape_entry> read_tape_image(const std::uint8_t* image, std::size_t size)
{
    std::vector<tape_entry> entries;
    tape_entry entry;
    for (std::size_t at = 0; next_tape_entry(image, size, at, false, entry);) {
        at += entry.span;
        entry.entry = entries.size() + 1;
        entries.push_back(std::move(entry));
        entry = tape_entry{};
    }
    return entries;
}

bool walk_image_window(const image_stream_reader& next, const window_visitor& visit)
{
    // Whenever fewer than longest_entry bytes are left in the window, the
    // rest moves to its front and the window is filled up again, so that
    // each entry is walked whole.
    constexpr std::size_t window_size = 4 * longest_entry;
    std::vector<std::uint8_t> window(window_size);
    std::size_t filled = 0;
    std::size_t at = 0;
    std::uint64_t base = 0;
    std::size_t number = 0;
    bool end = false;
    tape_entry entry;
    for (;;) {
        if (!end && filled - at < longest_entry) {
            std::copy(window.begin() + static_cast<std::ptrdiff_t>(at),
                      window.begin() + static_cast<std::ptrdiff_t>(filled), window.begin());
            base += at;
            filled -= at;
            at = 0;
            while (!end && filled < window_size) {
                std::size_t got = 0;
                if (!next(window.data() + filled, window_size - filled, got))
                    return false;
                end = got == 0;
                filled += got;
            }
        }
        if (!next_tape_entry(window.data(), filled, at, !end, entry))
            return true;
        entry.entry = ++number;
        if (!visit(entry, window.data(), base))
            return true;
        at += entry.span;
    }
}

const char* entry_kind_name(entry_kind kind)
{
    switch (kind) {
    case entry_kind::file: return "file";
    case entry_kind::headless: return "headless";
    case entry_kind::truncated: break;
    }
    return "truncated";
}

const char* checksum_state_name(const tape_entry& entry)
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

} // namespace cassmak::core
