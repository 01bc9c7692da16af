// What the web page asks of the core. Each answer is a JSON text that the
// page's script reads; the bytes themselves stay with the script, which gets
// offsets into them.
#pragma once

#include "basic/checker.h"
#include "basic/importer.h"
#include "tape/fields.h"
#include "tape/json.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core = cassmak::core;

// A tape the page has read, held by its module: the bytes, how many entries
// they make and whether any is damaged, and where every `tape_mark_stride`-th
// entry begins, so that any window of rows is found by a short walk whatever
// the number of entries, while the marks of 64 MiB of empty blocks (33 million
// entries) stay within a few MB.
constexpr std::size_t tape_mark_stride = 64;
struct held_tape {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> marks;
    std::size_t count = 0;
    bool damaged = false;
};
held_tape hold_tape(std::vector<std::uint8_t> bytes);

// {"count":3,"size":73,"damaged":false}
std::string held_tape_json(const held_tape& tape);

// Entries `first` (0-based) to `first` + `count` - 1 of the tape, those that
// exist, as `casstool list` shows them, with where each payload lies in the
// image:
// {"entries":[{"entry":1,"offset":0,"kind":"file","number":0,"type":"?",
//   "address":0,"length":1,"name":"A       ","checksums":"good",
//   "problem":"","payload_offset":69,"payload_size":1}, ...]}
std::string tape_rows_json(const held_tape& tape, std::size_t first, std::size_t count);

// What casstool says of a tape of `size` bytes named `name` before reading
// it, or an empty text when it is not larger than the largest image.
std::string tape_size_message(const std::string& name, std::uint64_t size);

// The warnings of `casstool check` for a BASIC source, each with its fix:
// {"warnings":[{"line":1,"column":1,"kind":"bom","message":"...","fix":"..."}]}
std::string source_warnings_json(std::string_view source);

// A source's problems under `key`, each where it is, as the check gives them:
// ,"errors":[{"line":3,"column":6,"kind":"undefined-label","message":"..."}]
void append_source_problems_json(std::string& out, const char* key,
                                 const std::vector<core::check_warning>& problems);

// The source numbered afresh as `casstool renum --start START --step STEP`
// numbers it, the two numbers as typed; refused (no text) for a number out
// of range, a label error or numbers past 65535:
// {"refused":false,"message":"","text":"10 GOTO 10\n","lines":1,
//  "errors":[...],"warnings":[{"line":2,"column":9,"kind":"missing-target",...}]}
std::string renumbered_source_json(std::string_view source, const std::string& start,
                                   const std::string& step);

// --- Making a tape, as cassmak makes it -------------------------------------

// What cassmak says of a field's typed value (naming the option that gives
// it), or an empty text when it takes it.
std::string field_message(core::header_field field, const std::string& value);

// What cassmak says of an input of `size` bytes named `name` before reading
// it, or an empty text when the size is within its bounds.
std::string input_size_message(bool basic, const std::string& name, std::size_t size);

// One input as the page's form gives it: how it is stored and the fields the
// user typed, in the form's order; a field not typed takes cassmak's default.
struct pack_form {
    bool headless = false;
    bool basic = false;
    std::vector<std::pair<core::header_field, std::string>> fields;
};

// One input stored as cassmak stores an input named `name` with the options
// of `form`, without -o: the tape name, when not typed, comes from NAME.kst.
// `image` holds the blocks to append to the tape; `message` cassmak's
// failure, if any.
struct packed_file {
    std::string message;
    std::vector<std::uint8_t> image;
    core::basic_import import; // for a BASIC program: every line read, with its warnings
    // For a BASIC program with labels or unnumbered lines, numbered first as
    // `casstool add --basic` numbers it: its label errors (a refusal) and its
    // references to missing lines.
    std::vector<core::check_warning> label_errors;
    std::vector<core::check_warning> missing_targets;
};
packed_file pack_file(const pack_form& form, const std::string& name, const std::uint8_t* input,
                      std::size_t size);

// cassmak's defaults for an input named `name` (stored without -o and -m):
// the tape name it gets, upper-cased and without trailing spaces; the
// number, type and address a binary and a BASIC program get; the type of a
// BASIC program; the name width:
// {"name":"HELLO","binary":{"-n":"0","-t":"?","-a":"0"},
//  "basic":{"-n":"0","-t":">","-a":"0x2401"},"basic_type":">","name_width":8}
std::string page_defaults_json(const std::string& name);

// {"message":"","length":81,"warnings":[{"line":10,"text":"Line is long. ..."}],
//  "errors":[...],"missing":[...]}: errors and missing as source problems.
std::string packed_file_json(const packed_file& packed);

// --- Reading it back ----------------------------------------------------------

// {"text":"10 PRINT...\n","warnings":["..."]}: `casstool basic` of a payload.
std::string basic_listing_json(const std::uint8_t* payload, std::size_t size);

// --- Changing it --------------------------------------------------------------

// The result of an edit: the new image, or why there is none.
struct edited_tape {
    std::string message;
    std::vector<std::uint8_t> image;
};

// Entry `index` (0-based) taken out; every other entry keeps its bytes.
edited_tape remove_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index);
// Entry `from` moved to position `to`; refused when an entry cut short
// would then stand before another.
edited_tape move_tape_entry(std::vector<std::uint8_t> bytes, std::size_t from, std::size_t to);

// The header fields to rewrite, each as typed; an empty text keeps the field.
struct retag_fields {
    std::string name, number, type, address;
};
// Why a typed header field cannot be stored (`field` is "name", "number",
// "type" or "address"), or an empty text.
std::string retag_message(const std::string& field, const std::string& value);
edited_tape retag_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index,
                             const retag_fields& fields);
