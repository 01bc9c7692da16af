#include "tape/spans.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace cassmak::core {

namespace {

// A small window over the image, moved to where the walk reads next. It
// grows while the walk reads on from its end (an image of tiny entries is
// read a large window at a time) and shrinks when the walk skips ahead (one
// of large entries costs a short read an entry, not a page of its data).
class image_window {
  public:
    image_window(std::uint64_t size, const image_bytes_reader& read) : size_(size), read_(read) {}

    // The `count` bytes at `at` (which lie within the image), or null when
    // they cannot be read.
    const std::uint8_t* bytes(std::uint64_t at, std::size_t count)
    {
        if (at < start_ || at + count > start_ + filled_) {
            const std::uint64_t end = start_ + filled_;
            reach_ = at > end ? smallest : std::min(reach_ * 2, largest);
            filled_ = static_cast<std::size_t>(
                std::min<std::uint64_t>(size_ - at, std::max(reach_, count)));
            buffer_.resize(std::max(buffer_.size(), filled_));
            start_ = at;
            if (!read_(at, buffer_.data(), filled_)) {
                filled_ = 0;
                return nullptr;
            }
        }
        return buffer_.data() + (at - start_);
    }

  private:
    // A header block with the data block's length field after it fits the
    // smallest window.
    static constexpr std::size_t smallest = 256;
    static constexpr std::size_t largest = std::size_t{1} << 16;
    std::uint64_t size_;
    const image_bytes_reader& read_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    std::size_t reach_ = 4096;
};

// The length of the whole block whose length field is at `at`, or 0 when the
// image ends before the block does.
bool whole_block(image_window& window, std::uint64_t size, std::uint64_t at, bool& whole,
                 std::uint64_t& length)
{
    whole = false;
    if (size - at < block_length_size)
        return true;
    const std::uint8_t* field = window.bytes(at, block_length_size);
    if (!field)
        return false;
    length = load_word(field);
    whole = size - at - block_length_size >= length;
    return true;
}

} // namespace

bool walk_entry_bounds(std::uint64_t size, const image_bytes_reader& read,
                       const std::function<bool(std::size_t, const entry_bounds&)>& visit)
{
    image_window window(size, read);
    std::uint64_t at = 0;
    for (std::size_t index = 0; at < size; ++index) {
        entry_bounds bounds;
        bounds.offset = at;
        bool whole = false;
        std::uint64_t length = 0;
        if (!whole_block(window, size, at, whole, length))
            return false;
        if (!whole) {
            bounds.kind = entry_kind::truncated;
            bounds.span = size - at;
            bounds.open = true;
        } else {
            bounds.span = block_length_size + length;
            // The sync pattern is read only where the length is a header's.
            const std::uint8_t* body = nullptr;
            if (length == header_body_size) {
                body = window.bytes(at + block_length_size, sync_size);
                if (!body)
                    return false;
            }
            if (is_header_block(static_cast<std::size_t>(length), body)) {
                bounds.kind = entry_kind::file;
                const std::uint64_t after = at + bounds.span;
                bool data_whole = false;
                std::uint64_t data_length = 0;
                if (!whole_block(window, size, after, data_whole, data_length))
                    return false;
                if (data_whole)
                    bounds.span += block_length_size + data_length;
                else
                    bounds.open = true;
            }
        }
        if (!visit(index, bounds))
            return true;
        at += bounds.span;
    }
    return true;
}

bool count_entries(std::uint64_t size, const image_bytes_reader& read, std::size_t& count)
{
    count = 0;
    return walk_entry_bounds(size, read, [&](std::size_t, const entry_bounds&) {
        ++count;
        return true;
    });
}

bool read_entry(const image_bytes_reader& read, const entry_bounds& bounds, std::size_t index,
                std::vector<std::uint8_t>& window, tape_entry& entry)
{
    window.resize(static_cast<std::size_t>(bounds.span));
    if (!read(bounds.offset, window.data(), window.size()))
        return false;
    // The entry is whole in the window; whatever follows it in the image
    // does not change how it reads, except that a truncated tail is the end.
    next_tape_entry(window.data(), window.size(), 0, false, entry);
    entry.entry = index + 1;
    return true;
}

bool read_entry_head(const image_bytes_reader& read, const entry_bounds& bounds, std::size_t index,
                     tape_entry& entry)
{
    entry = tape_entry{};
    entry.entry = index + 1;
    entry.kind = bounds.kind;
    entry.span = static_cast<std::size_t>(bounds.span);
    if (bounds.kind != entry_kind::file) {
        entry.length = static_cast<std::size_t>(
            bounds.kind == entry_kind::headless ? bounds.span - block_length_size : bounds.span);
        return true;
    }
    std::array<std::uint8_t, block_length_size + header_body_size> block{};
    if (!read(bounds.offset, block.data(), block.size()))
        return false;
    read_file_head(block.data() + block_length_size + file_head_offset, entry);
    return true;
}

} // namespace cassmak::core
