// The label syntax of a source that leaves its numbering to casstool renum:
// `@name:` at the start of a line names that line (or, alone on its line, the
// next line), `@name` outside strings, remarks and DATA stands for the number
// of the line it names, and `\@` is a literal `@`. The machine's BASIC has no
// use for `@` outside strings, so nothing it reads is taken for a label.
#pragma once

#include <cstddef>
#include <string_view>

namespace cassmak::core {

constexpr char label_mark = '@';
constexpr char label_escape = '\\';
constexpr char label_definition_end = ':';

// A name: a letter or `_`, then letters, digits and `_`.
bool is_label_start(char c);
bool is_label_char(char c);

// The length of the label `@name` at `at` of `text` (the mark included), or
// 0 when no name follows a mark there.
std::size_t label_length(std::string_view text, std::size_t at);

// The length of the definition `@name:` that `line` begins with (the colon
// included), or 0.
std::size_t label_definition_length(std::string_view line);

} // namespace cassmak::core
