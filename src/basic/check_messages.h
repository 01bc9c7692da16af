// The words of each kind of warning of the source check, one function per
// kind, over what the walk (checker.cc) found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cassmak::core {

std::string source_size_message(std::size_t size);
// `digits`: the number written after the mark, if any.
std::string bom_message(std::string_view digits);
// `rest`: the line after any mark; `blank` bytes of white space then the
// digits up to `digits` (blank == rest.size(): white space only).
std::string no_number_message(std::string_view rest, std::size_t blank, std::size_t digits);
// `written`: the number without its leading zeros; `number` as counted, and
// `stored` as the record keeps it.
std::string number_range_message(const std::string& written, std::int32_t number,
                                 std::uint32_t stored);
std::string empty_line_number_message(const std::string& written, std::uint32_t stored);
// A number smaller than or equal to the line before (`previous`); `from_cut`:
// that one is the number of a cut-off piece.
std::string order_message(std::int32_t number, std::int32_t previous, bool from_cut);
// `written` read as `token` (0: letters) where `meant` was meant.
std::string lower_case_keyword_message(std::string_view written, int token, int meant);
// `run`: consecutive bytes of 0x80 and above where the machine looks for tokens.
std::string non_ascii_message(std::string_view run);
// A NUL in a piece that ends at column `end`, or at the line's end (`whole_line`).
std::string nul_message(std::size_t end, bool whole_line);
std::string unclosed_string_message();
// `whole`: the program image's size without its end link.
std::string too_large_message(std::size_t whole);
// `returns` carriage returns without a newline in the line.
std::string cr_line_ends_message(std::size_t returns);
// A line of `length` characters cut into `records` lines, the first cut at
// column `cut_column` stored as line `cut_number`, which with `from_digits`
// comes from its own leading digits.
std::string split_line_message(std::size_t length, std::size_t records, std::size_t cut_column,
                               std::uint32_t cut_number, bool from_digits);

} // namespace cassmak::core

namespace cassmak::core {

// A reference, written `digits`, to a line the program lacks.
std::string missing_target_message(std::string_view digits);
// A line numbered `number` as was the line on source line `first_line`.
std::string duplicate_number_message(std::uint32_t number, std::size_t first_line);
// `@name` used but never defined; `dangling`: defined with no line after it.
std::string undefined_label_message(std::string_view name, bool dangling);
// `@name` defined again, first on source line `first_line`.
std::string duplicate_label_message(std::string_view name, std::size_t first_line);

} // namespace cassmak::core
