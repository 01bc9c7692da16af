// A BASIC source numbered afresh: every line from a first number by a step,
// every line reference (references.h) rewritten to the new number of the
// line it named, labels (labels.h) replaced by the numbers of their lines,
// and every other byte kept.
#pragma once

#include "basic/checker.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak::core {

constexpr std::uint32_t renumber_default_start = 10;
constexpr std::uint32_t renumber_default_step = 10;
// The largest number a line can have: its record keeps 16 bits.
constexpr std::uint32_t line_number_max = 65535;

struct renumber_settings {
    std::uint32_t start = renumber_default_start;
    std::uint32_t step = renumber_default_step;
};

// One line of the source as numbered: where it is (physical line, 1-based),
// the number written before (empty: none), the labels that name it, and its
// new number.
struct renumbered_line {
    std::size_t line = 0;
    std::string old_digits;
    std::vector<std::string> labels;
    std::uint32_t number = 0;
};

// `status`: work_sound; work_damaged when a reference names no line (each in
// `warnings`, left as written); work_failed when refused, with nothing in
// `text` and the refusal in `message`: labels undefined or defined twice
// ("2 label errors", each in `errors`), or numbers that would pass 65535.
struct source_renumber {
    int status = 0;
    std::string text;
    std::vector<renumbered_line> lines;
    std::vector<check_warning> warnings; // missing-target
    std::vector<check_warning> errors;   // undefined-label, duplicate-label
    std::string message;
    // The source had labels, escapes or unnumbered lines to resolve.
    bool labelled = false;
};

// Numbers the source `source` afresh. Empty lines (nothing before a NUL but
// line ends) stay as they are and get no number; a line holding only a label
// definition is taken out and its label names the next line that gets one;
// an unnumbered line gets its number and one space in front; a numbered
// line gets its digits replaced. A label definition and the white space
// after it go; a byte order mark stays.
source_renumber renumber_source(std::string_view source, const renumber_settings& settings);

// What `cassmak -b` needs of a source that may use labels or leave lines
// unnumbered: the source numbered as renumber_source numbers it; a source
// that needs none of that comes back unchanged, its own numbers kept.
source_renumber number_source(std::string_view source, const renumber_settings& settings);

// Why `count` lines cannot be numbered by `settings`, or nothing: "the
// step must be 1 to 65535, not 0" (a step of 0 would give every line one
// number), or "the 7 lines numbered from 65500 by 10 would end at 65560,
// past 65535".
std::string numbering_refusal(std::size_t count, const renumber_settings& settings);

} // namespace cassmak::core
