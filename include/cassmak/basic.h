// BASIC programs stored on a tape, listed back as text. (A program is
// imported by import_basic in cassmak/make.h.)
#pragma once

#include "cassmak/export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cassmak {

// `text` is what `casstool basic` writes to a file: the listing that
// cassmak -b imports into the same program image. `warnings` are its lines
// on standard error (without "casstool: " and the line end), each naming
// what will not come back identically; `status` is 1 when there are any.
struct basic_text {
    int status = 0;
    std::string text;
    std::vector<std::string> warnings;
    std::string message; // a failure (status 2): out of memory
};

// Lists the program image `program` (the payload of a type '>' file).
CASSMAK_API basic_text list_basic(const std::uint8_t* program, std::size_t size);

} // namespace cassmak

#include "cassmak/check.h"

#include <string_view>

namespace cassmak {

// `casstool renum SOURCE --start START --step STEP`: `text` with its lines
// numbered from `start` by `step`, each line reference rewritten to the new
// number of the line it named, labels (`@name:` to define, `@name` to refer,
// `\@` for a literal @) replaced by numbers, every other byte kept.
// `status`: 0 renumbered; 1 renumbered, a reference to a missing line left as
// written (each in `warnings`, kind "missing-target"); 2 refused, no
// `text`, the refusal in `message`: labels undefined or defined twice ("2
// label errors", each in `errors`) or numbers past 65535. format_diagnostic words a warning as renum does.
struct renumbered_source {
    int status = 0;
    std::string text;
    std::vector<diagnostic> warnings;
    std::vector<diagnostic> errors;
    std::string message;
};

CASSMAK_API renumbered_source renumber_source(std::string_view text, std::uint32_t start = 10,
                                              std::uint32_t step = 10);

// What `cassmak -b` can take of a source that may use labels or leave lines
// unnumbered: as renumber_source makes it; a source with nothing of that
// comes back as it was, its numbers kept.
CASSMAK_API renumbered_source number_source(std::string_view text, std::uint32_t start = 10,
                                            std::uint32_t step = 10);

// A line reference of a source: where it is (physical line and byte column,
// 1-based) and what is written there, digits or `@name`.
struct source_reference {
    std::size_t line = 0;
    std::size_t column = 0;
    std::string written;
    bool label = false;
};

// Every line reference of `text`, in order, by the rule casstool renum and
// check follow.
CASSMAK_API std::vector<source_reference> source_references(std::string_view text);

} // namespace cassmak
