// parse_number must give -1 or a non-negative value, and read back its own
// decimal, octal and hexadecimal renderings.
#include "basic/pack.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace cassmak::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    long value = parse_number(text.c_str());
    if (value < -1)
        std::abort();
    if (value >= 0 && value < LONG_MAX) {
        for (const char* format : {"%ld", "0%lo", "0x%lx", "  +%ld"}) {
            char rendered[64];
            std::snprintf(rendered, sizeof rendered, format, value);
            if (parse_number(rendered) != value)
                std::abort();
        }
    }
    return 0;
}
