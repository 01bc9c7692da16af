// Making a tape: a stored file, a headless block or a BASIC program, the
// bytes `cassmak` writes for the same input and options.
#pragma once

#include "cassmak/export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak {

// The status of a call that ran out of memory, which no tool gives.
constexpr int out_of_memory = 255;

// The fields of a stored file's header, as cassmak's -m, -n, -t and -a give
// them. The name is upper-cased and padded to 8 characters; an empty one is
// stored as 8 spaces (cassmak derives one from the output path instead:
// derive_tape_name).
struct file_fields {
    std::string name;
    int number = 0;  // 0 to 99
    char type = '?'; // one character from 0x21 to 0x7E
    int address = 0; // 0 to 65535
};

// One line's warning while a BASIC program is imported, as cassmak prints
// it after "Line: NUMBER" (without the tab and the line end).
struct import_warning {
    std::int32_t line = 0;
    std::string text; // "Line is long. Possible problem!", ...
};

// The outcome of making a tape. `status` is cassmak's exit status for the
// same run (0 made; 7 the input's length is out of range; 15 to 18 a bad
// address, number, type or name; 19 a BASIC program too large) and
// `message` its message on standard error, without the empty line after it;
// empty when made. out_of_memory (255, "out of memory") is the library's own.
struct made_tape {
    int status = 0;
    std::vector<std::uint8_t> image;      // the tape's bytes, as cassmak writes them
    std::vector<std::uint8_t> program;    // BASIC only: the program image stored in it
    std::vector<import_warning> warnings; // BASIC only: in the order cassmak prints them
    std::string message;
};

// The tape of one stored file holding the `size` bytes at `data` (1 to
// 65533): `cassmak -m NAME -n N -t C -a A`. `source` names the input in a
// message, as cassmak names its input file.
CASSMAK_API made_tape make_file(const std::uint8_t* data, std::size_t size,
                                const file_fields& fields, const std::string& source = "-");

// The tape of one headless block (only its length in front): `cassmak -hless`.
CASSMAK_API made_tape make_headless(const std::uint8_t* data, std::size_t size,
                                    const std::string& source = "-");

// A BASIC program written as text (5 to 65535 bytes), tokenized and stored
// as a file of type '>' at 0x2401: `cassmak -b -m NAME -n N`.
CASSMAK_API made_tape import_basic(std::string_view text, const std::string& name = "",
                                   int number = 0, const std::string& source = "-");

// A number as cassmak takes it after -n and -a: decimal, 0x hex or 0 octal,
// read as C's strtol reads it (leading spaces and a sign, up to the first
// character that is no digit; no digit at all is 0); -1 for a negative
// number or one whose digits end in 0x ("0x").
CASSMAK_API long parse_cassmak_number(const std::string& text);

// The 8-character tape name cassmak derives from an output path: its last
// component, cut to 8 characters and at the last dot among them, padded.
CASSMAK_API std::string derive_tape_name(const std::string& output_path);

} // namespace cassmak
