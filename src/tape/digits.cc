#include "tape/digits.h"

namespace cassmak::core {

// Two digits a step, from a table, written from the right where they belong.
char* put_right(char* at, std::uint64_t value, int width)
{
    static const char pairs[] = "00010203040506070809101112131415161718192021222324252627282930"
                                "31323334353637383940414243444546474849505152535455565758596061"
                                "62636465666768697071727374757677787980818283848586878889909192"
                                "93949596979899";
    int count = 1;
    for (std::uint64_t power = 10; count < 20 && value >= power; power *= 10)
        ++count;
    for (int i = count; i < width; ++i)
        *at++ = ' ';
    char* end = at + count;
    char* digit = end;
    while (value >= 100) {
        const auto pair = static_cast<std::size_t>(value % 100) * 2;
        value /= 100;
        digit -= 2;
        digit[0] = pairs[pair];
        digit[1] = pairs[pair + 1];
    }
    if (value >= 10) {
        const auto pair = static_cast<std::size_t>(value) * 2;
        digit[-2] = pairs[pair];
        digit[-1] = pairs[pair + 1];
    } else {
        digit[-1] = static_cast<char>('0' + value);
    }
    return end;
}

void append_number(std::string& out, std::uint64_t value)
{
    char digits[24];
    out.append(digits, static_cast<std::size_t>(put_right(digits, value, 0) - digits));
}

void counting_column::set(std::uint64_t value)
{
    char* last = text_ + room - 1;
    if (value >= value_ && value - value_ <= 1000000) {
        std::uint64_t add = value - value_;
        value_ = value;
        // Mostly one digit grows without a carry.
        if (add < 10 && *last - '0' + static_cast<int>(add) < 10) {
            *last = static_cast<char>(*last + static_cast<int>(add));
            return;
        }
        int carry = 0;
        for (char* digit = last; add != 0 || carry != 0; --digit) {
            if (*digit == ' ') {
                *digit = '0';
                ++count_;
            }
            const int sum = *digit - '0' + static_cast<int>(add % 10) + carry;
            add /= 10;
            carry = sum >= 10 ? 1 : 0;
            *digit = static_cast<char>('0' + sum - 10 * carry);
        }
        return;
    }
    value_ = value;
    std::memset(text_, ' ', sizeof text_);
    count_ = 0;
    char* digit = last;
    do {
        *digit-- = static_cast<char>('0' + value % 10);
        ++count_;
        value /= 10;
    } while (value != 0);
}

} // namespace cassmak::core
