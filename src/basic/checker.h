// Finds what in a BASIC source the importer will store differently from
// what its writer plainly meant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct check_warning {
    std::size_t line = 0;   // physical line, 1-based, counting newlines
    std::size_t column = 0; // byte column, 1-based
    std::string_view kind;  // one of check_kinds()
    std::string message;
};

// Every kind of warning, in the order the documentation lists them.
const std::vector<std::string_view>& check_kinds();

// The warnings for the whole source `content`, in the order of the source.
// Each is computed with the importer's own read, line split and tokenizer. A
// warning that explains another stands alone: a byte order mark before the
// first number hides that line's no-number, pieces after a cut get no number
// warnings (split-line names their number), a line without a number gets no
// order warning, and a cut that only carriage-return line ends cause is left
// to cr-line-ends.
std::vector<check_warning> check_basic_source(std::string_view content);
