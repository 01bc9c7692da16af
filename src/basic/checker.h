// Finds what in a BASIC source the importer will store differently from
// what its writer plainly meant.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak::core {

// Every kind of warning, in the order the documentation lists them.
enum class check_kind {
    bom,
    no_number,
    split_line,
    number_range,
    order,
    lower_case_keyword,
    non_ascii,
    nul,
    cr_line_ends,
    unclosed_string,
    too_large,
    empty_line_number,
    source_size,
    missing_target,
    duplicate_number,
    undefined_label,
    duplicate_label,
};

// The kind's name, as `-W no-KIND` and the output spell it ("no-number").
std::string_view check_kind_name(check_kind kind);

// What to do about a warning of the kind, as the README's table and the web
// page give it ("start each line with its number").
std::string_view check_kind_fix(check_kind kind);

struct check_warning {
    std::size_t line = 0;   // physical line, 1-based, counting newlines
    std::size_t column = 0; // byte column, 1-based
    // The display column, 1-based, as GCC counts it: a UTF-8 character is one
    // column (a wide East Asian one two, a combining mark none), a tab runs to
    // the next multiple of 8, any other byte is one column.
    std::size_t display_column = 0;
    check_kind kind = check_kind::bom;
    std::string message;
};

// Appends the line casstool check prints for a warning of the source named
// `source`: "SOURCE:LINE:COLUMN: warning: MESSAGE [KIND]\n", COLUMN the
// display column.
void append_check_line(std::string& out, std::string_view source, std::size_t line,
                       std::size_t display_column, std::string_view message, std::string_view kind);

// The same with another severity ("error" where casstool renum refuses).
void append_source_line(std::string& out, std::string_view source, std::size_t line,
                        std::size_t display_column, std::string_view severity,
                        std::string_view message, std::string_view kind);

// The names of every kind, in the order of the enumeration.
const std::vector<std::string_view>& check_kinds();

// The warnings for the whole source `content`, in the order of the source.
// Each is computed with the importer's own read, line split and tokenizer. A
// warning that explains another stands alone: a byte order mark before the
// first number hides that line's no-number, pieces after a cut get no number
// warnings (split-line names their number), a line without a number gets no
// order warning, a cut that only carriage-return line ends cause is left to
// cr-line-ends, and a string that only the cut leaves unclosed is left to
// split-line.
// Each warning goes to `sink` as soon as it is found, in the order of the
// source (by line, then column), so that memory does not grow with the
// number of lines or warnings.
using check_sink = std::function<void(const check_warning&)>;
void check_basic_source(std::string_view content, const check_sink& sink);

// The same warnings, collected.
std::vector<check_warning> check_basic_source(std::string_view content);

} // namespace cassmak::core
