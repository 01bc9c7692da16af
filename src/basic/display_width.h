// Display columns of a source line, as a compiler's diagnostics count them.
#pragma once

#include <cstddef>
#include <string_view>

namespace cassmak::core {

// The display width of the character at `at` of `text`, and in `length` its
// bytes: a tab runs to the next multiple of 8, a UTF-8 character is one
// column (two for the wide East Asian ones, none for a combining mark), and
// any other byte one column, as GCC counts them. `column` is where it starts.
std::size_t display_width(std::string_view text, std::size_t at, std::size_t column,
                          std::size_t& length);

// Turns the byte columns of one line's warnings, handed over in order, into
// display columns, counting each byte of the line once.
struct column_counter {
    std::string_view line;
    std::size_t byte = 0;   // counted up to here
    std::size_t column = 1; // the display column of `byte`

    std::size_t display(std::size_t byte_column);
};

} // namespace cassmak::core
