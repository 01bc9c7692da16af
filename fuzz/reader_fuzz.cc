// read_tape_image over any bytes: the entries cover the image in order,
// without gap or overlap, each one's payload lies inside it, and a file's
// fields agree with the bytes they came from.
#include "tape/reader.h"

#include <cstdint>
#include <cstdlib>

using namespace cassmak::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<tape_entry> entries = read_tape_image(data, size);
    std::size_t at = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const tape_entry& entry = entries[i];
        if (entry.entry != i + 1 || entry.offset != at || entry.span == 0 || entry.span > size - at)
            std::abort();
        const std::size_t end = entry.offset + entry.span;
        if (entry.payload_size > 0 &&
            (entry.payload_offset < entry.offset || entry.payload_offset > end ||
             entry.payload_size > end - entry.payload_offset))
            std::abort();
        switch (entry.kind) {
        case entry_kind::truncated:
            // Only the last entry can be cut short.
            if (end != size || entry.problem.empty() || entry.length != entry.span)
                std::abort();
            break;
        case entry_kind::headless:
            if (entry.span != entry.length + 2 || !entry.problem.empty())
                std::abort();
            break;
        case entry_kind::file: {
            const bool sound = entry.header_checksum_good &&
                               entry.data_checksum == data_checksum_state::good &&
                               entry.payload_size == entry.length;
            if (sound != entry.problem.empty() || data[entry.offset] != header_body_size ||
                data[entry.offset + 1] != 0)
                std::abort();
            break;
        }
        }
        at = end;
    }
    if (at != size)
        std::abort();
    return 0;
}
