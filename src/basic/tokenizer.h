// The BASIC keyword table and the tokenizer that crunches one statement text
// into the one-byte tokens the machine's BASIC keeps in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cassmak::core {

constexpr int first_token = 0x80;
constexpr int keyword_count = 111;
constexpr unsigned char token_data = 0x83;
constexpr unsigned char token_rem = 0x8E;

// Where the tokenizer stands within a line: it looks keywords up only while
// none of these is set.
struct lookup_flags {
    bool in_string = false;
    bool after_rem = false;
    bool in_data = false;
    bool looking() const
    {
        return !in_string && !after_rem && !in_data;
    }
};

// Updates `flags` from a byte just appended to the crunched text. Only the
// byte counts, not whether it came from the table, so a copied byte equal to a
// token steers exactly as the token would.
void follow_byte(lookup_flags& flags, unsigned char byte);

// Keyword of `token`, or an empty view for the unused tokens and non-tokens.
std::string_view keyword_of(int token);

// The length of the longest keyword: a lookup never reads further ahead.
std::size_t longest_keyword();

// Looks for a keyword starting at `position` in `text`: on a match moves
// `position` past it and returns its token, otherwise returns 0. The first
// entry in table order wins, which with this table is the longest match.
int match_keyword(std::string_view text, std::size_t& position);

// Crunches a statement text: keywords become tokens except inside strings,
// after REM and inside DATA. The result is never longer than `text`.
std::string tokenize_line(std::string_view text);

} // namespace cassmak::core
