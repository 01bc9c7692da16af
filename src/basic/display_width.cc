#include "basic/display_width.h"

#include <algorithm>
#include <cstdint>

namespace cassmak::core {

std::size_t display_width(std::string_view text, std::size_t at, std::size_t column,
                          std::size_t& length)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    length = 1;
    if (byte == '\t')
        return 8 - (column - 1) % 8;
    std::size_t size = 0;
    std::uint32_t point = 0;
    if (byte >= 0xC2 && byte <= 0xDF) {
        size = 2;
        point = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        size = 3;
        point = byte & 0x0Fu;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        size = 4;
        point = byte & 0x07u;
    }
    if (size == 0 || text.size() - at < size)
        return 1;
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 1;
        point = point << 6 | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and points past U+10FFFF are no characters.
    if ((size == 3 && point < 0x800) || (size == 4 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF))
        return 1;
    length = size;
    struct range {
        std::uint32_t first, last;
    };
    static const range combining[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    };
    static const range wide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const range& r : combining)
        if (point >= r.first && point <= r.last)
            return 0;
    for (const range& r : wide)
        if (point >= r.first && point <= r.last)
            return 2;
    return 1;
}

std::size_t column_counter::display(std::size_t byte_column)
{
    const std::size_t target = std::min(byte_column - 1, line.size());
    while (byte < target) {
        std::size_t length = 1;
        const std::size_t width = display_width(line, byte, column, length);
        if (byte + length > target)
            break;
        byte += length;
        column += width;
    }
    return column + (target - byte);
}

} // namespace cassmak::core
