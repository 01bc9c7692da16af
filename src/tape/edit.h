// What the changes of a tape image (changes.h) are made of: whole entries as
// the reader walks them, a header rewritten, the entries a list of numbers
// and ranges names, and the file names an entry is written under.
#pragma once

#include "tape/fields.h"
#include "tape/reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cassmak::core {

// An image held in memory, with its entries.
struct tape_image {
    std::vector<std::uint8_t> bytes;
    std::size_t size = 0;
    std::vector<tape_entry> entries;

    const std::uint8_t* data() const
    {
        return bytes.data();
    }
};

// Whether anything that followed the entry would be read as part of it: a
// truncated tail, or a header whose data block is missing. Such an entry
// only keeps its meaning at the end of an image.
bool entry_is_open(const tape_entry& entry);

// The fields of a header to rewrite; those not given stay as they are.
struct header_change {
    std::optional<std::array<std::uint8_t, name_width>> name;
    std::optional<std::uint8_t> number;
    std::optional<std::uint8_t> type;
    std::optional<std::uint16_t> address;
};

// Rewrites the header of file entry `entry` of `bytes` in place and computes
// its checksum again. Only the file head and the checksum change.
void apply_header_change(std::vector<std::uint8_t>& bytes, const tape_entry& entry,
                         const header_change& change);

// A list of entries as typed: numbers, ranges A-B and `all`, resolved against
// an image of `count` entries into 0-based indexes, in the order given.
enum class entry_list_outcome { chosen, not_a_number, reversed_range, no_such_entry };
struct entry_list_result {
    entry_list_outcome outcome = entry_list_outcome::chosen;
    std::string word;   // the word at fault, as typed
    std::string number; // the number at fault, as typed (no_such_entry)
};
entry_list_result choose_entries(const std::vector<std::string>& words, std::size_t count,
                                 std::vector<std::size_t>& indexes);

// A run of entries, 0-based and inclusive.
struct entry_run {
    std::size_t first = 0;
    std::size_t last = 0;
};

// choose_entries as runs, one per word, so that `all` of an image of many
// entries takes no memory per entry.
entry_list_result choose_entry_runs(const std::vector<std::string>& words, std::size_t count,
                                    std::vector<entry_run>& runs);

// A file name for entry `entry` (1-based) of an image of `count` entries:
// the number, at least two digits wide, then `-` and the tape name without
// its trailing spaces, then `extension`. Every byte outside A-Z a-z 0-9 - _ .
// becomes `_`, so that the name stays in its folder.
std::string derived_file_name(const tape_entry& entry, std::size_t count,
                              const std::string& extension);

// A name part made safe on its own: the bytes outside A-Z a-z 0-9 - _ .
// become `_`, and `.` and `..` become `_` and `__`.
std::string safe_name(const std::string& text);

} // namespace cassmak::core
