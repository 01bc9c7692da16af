// import_basic over an in-memory source: every record's link is its own
// address plus its length, the image ends with the zero link, and nothing is
// written past the buffer, whose size the first input byte picks.
#include "basic/importer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace cassmak::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // Small buffers reach the size limit often; 0 stands for the run's own.
    int capacity = data[0] == 0 ? 65536 : data[0] * 4;
    const std::string_view source(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity));
    const basic_import result = import_basic(buffer.data(), capacity, source);
    const int length = result.length;
    if (length == import_too_large)
        return 0;
    if (length < 2 || length > capacity || length > basic_image_max)
        std::abort();
    std::size_t at = 0;
    std::uint32_t address = basic_base_address;
    for (;;) {
        if (at + 2 > static_cast<std::size_t>(length))
            std::abort();
        std::uint32_t link = buffer[at] | (buffer[at + 1] << 8);
        if (link == 0)
            break;
        std::size_t end = at + 4;
        while (end < static_cast<std::size_t>(length) && buffer[end] != 0)
            ++end;
        std::size_t record = end + 1 - at;
        if (record < 5 || link != address + record)
            std::abort();
        address = link;
        at += record;
    }
    if (at + 2 != static_cast<std::size_t>(length))
        std::abort();
    return 0;
}
