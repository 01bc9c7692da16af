// Turns a stored BASIC program image back into source text that the
// importer turns into the same image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct basic_listing {
    std::string text;                  // one line per record, each ending in '\n'
    std::vector<std::string> warnings; // one line each: what will not come back identically
};

// Lists the program image `image` (the payload of a type '>' tape file).
basic_listing list_basic_program(const std::uint8_t* image, std::size_t size);
