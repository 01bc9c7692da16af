// What casstool's changing commands (rm, set, move, copy, join) make of
// images, and what they say of it, with no command line, file or output in
// the way: casstool writes the result under its lock and prints the words,
// the library hands both back. `path` names an image in the words only.
#pragma once

#include "tape/edit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A change's status, as casstool's exit status gives it: done; done with
// --force over damage; refused, nothing to write.
constexpr int change_done = 0;
constexpr int change_forced = 1;
constexpr int change_refused = 2;

struct change_outcome {
    int status = change_done;
    std::vector<std::uint8_t> image; // the new image, unless refused
    std::string lines;               // what was done, a line each
    std::vector<std::string> notes;  // the damage it was forced over
    std::string message;             // why it was refused
};

// Why `choose_entries` found no entries in the image at `path`.
std::string entry_list_message(const std::string& path, const entry_list_result& result);

// Where the pieces of a new image came from, for the words of a refusal.
struct piece_origin {
    const std::string* path;
    std::size_t entry; // 1-based, in that image
};

// Why a new image made of `pieces` cannot be: an entry that takes in whatever
// follows it (a truncated tail, a header without its data block) would be
// followed by another one. Empty when it can be.
std::string open_inside_message(const std::string& path, const std::vector<entry_piece>& pieces,
                                const std::vector<piece_origin>& origins);

// What `casstool set` takes after the field option `option` (--name,
// --number, --type or --address): what the field needs ("a file number"),
// for a missing value; and the value `text` stored into `change`, or why it
// cannot be ("a file number '100' is not 0 to 99"; empty when it can).
const char* header_field_needs(const std::string& option);
std::string take_header_field(const std::string& option, const std::string& text,
                              header_change& change);

// The entries that `words` (numbers, ranges A-B, `all`) name taken out;
// every other entry keeps its bytes, moved together where they lie.
change_outcome remove_change(std::vector<std::uint8_t>&& old, const std::string& path,
                             const std::vector<std::string>& words);

// The header of entry `entry` (1-based; `entry_word` as it was typed)
// rewritten and its checksum computed again; a header whose checksum is bad
// only with `force`.
change_outcome set_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::string& entry_word, std::size_t entry,
                          const header_change& change, bool force);

// Entry `entry` moved to become entry `position` (both 1-based, with the
// words as typed).
change_outcome move_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::string& entry_word, std::size_t entry,
                           const std::string& position_word, std::size_t position);

// The entries `words` of the image `source` (at `source_path`; null: the
// image itself) put before entry `at` (1-based, `at_word` as typed; none:
// at the end). A truncated tail is copied only with `force`.
change_outcome copy_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::uint8_t* source, std::size_t source_size,
                           const std::string& source_path, const std::vector<std::string>& words,
                           const std::optional<std::string>& at_word, std::size_t at, bool force);

// The entries of `images` (at `paths`) back to back, as the image `output`;
// a truncated tail is taken only with `force`.
change_outcome join_change(const std::vector<tape_image>& images,
                           const std::vector<std::string>& paths, const std::string& output,
                           bool force);
