// The table and the JSON lines of `list`, made row by row as the entries of
// an image are found, so that nothing grows with the number of entries.
#pragma once

#include "tape/reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern const char* const table_heading;

// The most bytes put_row writes, besides the entry's problem text.
constexpr std::size_t row_room = 160;

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

// The rows of one table, written one after another.
struct table_rows {
    counting_column number; // the entry number
    counting_column offset;

    // Writes the entry's row at `at`, which has room for row_room bytes and
    // the entry's problem, and returns its end; the entry's offset counts
    // from `base`. No allocation, no stream.
    char* put(char* at, const tape_entry& entry, std::uint64_t base);
};

// The same row added to `out`.
void append_row(std::string& out, const tape_entry& entry, std::uint64_t base);

// What the summary line under the table says, counted as the rows go by.
struct table_summary {
    static constexpr std::size_t shown = 10; // damaged entries named
    std::size_t entries = 0;
    std::size_t counts[3] = {0, 0, 0}; // by entry_kind
    std::vector<std::size_t> damaged;  // the first `shown`
    std::size_t damaged_count = 0;
};

void count_entry(table_summary& summary, const tape_entry& entry);
void append_summary(std::string& out, const table_summary& summary);

// The line above the table: the path and, when known before reading, the size.
void append_table_head(std::string& out, const std::string& path, bool size_known,
                       std::uint64_t size);

// The whole listing of an image held in memory, as `list` prints it.
std::string image_table(const std::string& path, const std::uint8_t* bytes, std::size_t size);

// One JSON line for the entry. The image path is written as UTF-8 text where
// it is valid UTF-8; each other byte, and every byte of the stored name and
// type, becomes the code point of the same value.
void append_json(std::string& out, const std::string& path, const tape_entry& entry,
                 std::uint64_t base);

// The same line in two parts, for many entries of one image: the start, made
// once from the path, and the rest.
std::string json_line_start(const std::string& path);
void append_json_line(std::string& out, const std::string& start, const tape_entry& entry,
                      std::uint64_t base);
