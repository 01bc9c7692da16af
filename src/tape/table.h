// The table of `list`, made row by row as the entries of an image are found,
// so that nothing grows with the number of entries.
#pragma once

#include "tape/digits.h"
#include "tape/reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cassmak::core {

extern const char* const table_heading;

// The most bytes put_row writes, besides the entry's problem text.
constexpr std::size_t row_room = 160;

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

} // namespace cassmak::core
