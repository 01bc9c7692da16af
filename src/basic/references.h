// Where a BASIC line names another line: the one rule that renumbering, the
// source check and the label pass all follow. A line number is referenced
// after GOTO, GOSUB, RUN, RESTORE, LIST and LLIST (`LIST 10-20`: both ends),
// after THEN when a number follows it, and in the comma list after
// `ON expr GOTO` or `ON expr GOSUB`; spaces may stand between. Nothing is a
// reference inside a string, after REM or inside DATA, and what is a keyword
// is what the tokenizer takes for one: `goto 10` (lower case) refers to
// nothing, `XGOTO 10` does, as the machine will read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace cassmak::core {

enum class reference_kind {
    number, // digits where a line number stands
    label,  // `@name`, anywhere outside strings, remarks and DATA
    escape, // `\@`, a literal `@`
};

struct line_reference {
    std::size_t at = 0; // in the text walked
    std::size_t length = 0;
    reference_kind kind = reference_kind::number;
};

// The references of a statement text as written in a source (after the line
// number), in order, into `found` (cleared first). Labels and escapes are
// looked for only with `labels`; a label's letters are never taken for a
// keyword.
void find_source_references(std::string_view statement, bool labels,
                            std::vector<line_reference>& found);

// The same walk over a record's tokenized text, as the program image keeps it.
void find_stored_references(std::string_view text, std::vector<line_reference>& found);

// The value of a run of decimal digits; past 2^32 - 1 it stays there, a
// number no line can have.
std::uint32_t reference_value(std::string_view digits);
constexpr std::uint32_t reference_value_past = UINT32_MAX;

} // namespace cassmak::core

#include <functional>

namespace cassmak::core {

// A reference of a whole source: its physical line (1-based), its byte
// column (1-based) and what is written there.
struct placed_reference {
    std::size_t line = 0;
    std::size_t column = 0;
    std::string_view written;
    reference_kind kind = reference_kind::number;
};

// The line numbers and labels a source refers to, in the order of the
// source; each line's statement is what follows its label definition, its
// number and the white space after it.
void find_program_references(std::string_view source,
                             const std::function<void(const placed_reference&)>& visit);

} // namespace cassmak::core
