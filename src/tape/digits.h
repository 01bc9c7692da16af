// Digits written without a stream or an allocation, as a table of many rows
// needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace cassmak::core {

// Writes `value` right-aligned in `width` columns (or more when it needs
// them) and returns the end.
char* put_right(char* at, std::uint64_t value, int width);
// Adds the digits of `value` to `out`.
void append_number(std::string& out, std::uint64_t value);

// A number column whose value mostly grows by a little from row to row (the
// entry number, the offset): its digits are kept and added to rather than
// formatted anew, since an image of empty blocks has a row per two bytes.
class counting_column {
  public:
    void set(std::uint64_t value);
    // Writes the number right-aligned in `width` columns (or more when it
    // needs them) and returns the end.
    template <int width> char* put(char* at) const
    {
        static_assert(width <= room, "a column within the digits kept");
        if (count_ <= width) {
            std::memcpy(at, text_ + room - width, width);
            return at + width;
        }
        std::memcpy(at, text_ + room - count_, static_cast<std::size_t>(count_));
        return at + count_;
    }

  private:
    static constexpr int room = 20; // the digits of the largest value
    std::uint64_t value_ = 0;
    // The digits at the end, spaces before them.
    char text_[room] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '0'};
    int count_ = 1;
};

} // namespace cassmak::core
