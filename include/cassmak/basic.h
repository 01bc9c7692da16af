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
