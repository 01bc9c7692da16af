// Reading a whole file, or one piece by piece, the same on every platform over
// its primitives.
#include "io/files.h"
#include "io/platform.h"

#include <algorithm>

namespace cassmak::core {

namespace {

// A regular file is read with one read into a buffer one byte larger than
// the file, the second read confirming its end, and one larger than the
// limit is refused by its size before anything is read; anything else grows
// the buffer as it comes, up to one byte past the limit.
read_result read_to_end(const platform::reading& file, std::size_t limit,
                        std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    std::uint64_t length = 0;
    const bool regular = platform::regular_size(file, length);
    if (regular && length > limit)
        return {read_outcome::too_large, {}};
    if (regular && buffer.size() <= static_cast<std::size_t>(length))
        buffer.resize(static_cast<std::size_t>(length) + 1);
    if (buffer.size() < 65536)
        buffer.resize(65536);
    for (;;) {
        if (size > limit)
            return {read_outcome::too_large, {}};
        if (size == buffer.size())
            buffer.resize(std::min(size * 2, limit + 1));
        std::size_t got = 0;
        read_result read =
            platform::read_some(file, buffer.data() + size, buffer.size() - size, got);
        if (read.outcome != read_outcome::read)
            return read;
        if (got == 0)
            return {};
        size += got;
    }
}

} // namespace

read_result read_whole_file(const std::string& path, std::size_t limit,
                            std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    size = 0;
    platform::reading file;
    read_result opened = platform::open_reading(path, file);
    if (opened.outcome != read_outcome::read)
        return opened;
    read_result result = read_to_end(file, limit, buffer, size);
    platform::close_reading(file);
    return result;
}

namespace {

platform::reading reading_of(const input_stream& stream)
{
    return {stream.handle, stream.open};
}

} // namespace

read_result open_input_stream(const std::string& path, input_stream& stream)
{
    stream = input_stream{};
    platform::reading file;
    read_result opened = platform::open_reading(path, file);
    if (opened.outcome != read_outcome::read)
        return opened;
    stream.handle = file.handle;
    stream.open = true;
    stream.regular = platform::regular_size(file, stream.size);
    return {};
}

read_result read_input_stream(input_stream& stream, std::uint8_t* into, std::size_t room,
                              std::size_t& got)
{
    return platform::read_some(reading_of(stream), into, room, got);
}

void close_input_stream(input_stream& stream)
{
    platform::reading file = reading_of(stream);
    platform::close_reading(file);
    stream = input_stream{};
}

} // namespace cassmak::core
