// Turns a stored BASIC program image back into source text that the
// importer turns into the same image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak::core {

struct basic_listing {
    std::string text;                  // one line per record, each ending in '\n'
    std::vector<std::string> warnings; // one line each: what will not come back identically
};

// Lists the program image `image` (the payload of a type '>' tape file).
//
// Each record becomes `NUMBER TEXT`, its tokens written as keywords where
// that re-tokenizes to the same bytes and as their raw bytes elsewhere; a
// line that would pass the importer's 126-character read drops the space
// after the number (or, numbered 0, the number), then writes its longest
// keywords raw until it fits. Every line is checked by the importer's own
// read, split and tokenizer. The text is kept within the source lengths
// cassmak accepts: blank lines pad a shorter one, and a longer one gets its
// lines in their shortest form, from the first on, and then loses the line
// breaks the importer does not need (after a line of exactly 126 characters
// and at the very end).
//
// Warnings name the line number and the record (its position and address),
// for damaged links, a missing zero link, bytes after it, a record cut off
// by the end of the data, and each line that would not come back identically.
basic_listing list_basic_program(const std::uint8_t* image, std::size_t size);

// Writes keywords of the record text `text` raw (clears `as_keyword` at
// them), the longest first and among equals the leftmost first, until the
// line's `length` is within `limit` or only one-character keywords are left;
// returns the new length. A keyword written raw saves its length less one.
std::size_t fit_keywords(std::string_view text, std::vector<bool>& as_keyword, std::size_t length,
                         std::size_t limit);

} // namespace cassmak::core
