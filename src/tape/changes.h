// What casstool's changing commands (rm, set, move, copy, join, split) make
// of images, and what they say of it, with no command line, file or output in
// the way. rm, set, move and copy are planned once, over an image read where
// it lies (spans.h): casstool runs the plan through its update under the
// lock, the kept spans copied within the system, and prints the words; the
// library and the web page make the plan's bytes from the image they hold.
// `path` names an image in the words only.
#pragma once

#include "tape/edit.h"
#include "tape/spans.h"
#include "tape/statuses.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cassmak::core {

// A change's status, as casstool's exit status gives it: done; done with
// --force over damage; refused, nothing to write.
constexpr int change_done = work_sound;
constexpr int change_forced = work_damaged;
constexpr int change_refused = work_failed;

struct change_outcome {
    int status = change_done;
    std::vector<std::uint8_t> image; // the new image, unless refused
    std::string lines;               // what was done, a line each
    std::vector<std::string> notes;  // the damage it was forced over
    std::string message;             // why it was refused
    std::size_t open_entry = 0;      // as in change_plan
};

// A change planned over an image: the new image as the pieces it is made of
// (its new bytes held in `held`, which the pieces point into), or why it is
// refused.
struct change_plan {
    int status = change_done;
    std::vector<plan_piece> pieces;
    std::vector<std::uint8_t> held;
    std::vector<std::string> notes; // the damage it was forced over
    std::string message;            // why it was refused
    // Where the refusal is that an entry which takes in whatever follows it
    // (a truncated tail, a file without its data block) would be followed by
    // another: that entry, 1-based in the image it comes from; else 0.
    std::size_t open_entry = 0;
};

// The image a plan is made over: `size` bytes read through `read`.
struct image_source {
    std::uint64_t size;
    const image_bytes_reader& read;
};

// The plan refused with `message`. True, as a plan refused is a plan made
// (a plan's false is a read that failed), so that a plan ends with it.
bool refuse(change_plan& plan, std::string message);

// Where entry `entry` (1-based, `entry_word` as typed) of the old image lies,
// read no further than it. An image without it is read to its end, to say
// how many entries it has, and the plan refused with "PATH: no entry 7; its
// entries are 1 to 3". False when a read failed.
bool find_entry_bounds(const image_source& old, const std::string& path,
                       const std::string& entry_word, std::size_t entry, entry_bounds& bounds,
                       change_plan& plan);

// Takes each line a change says (what was done, one line each), as it is
// made; empty, where nobody will see them: then they are not made at all.
using change_lines = std::function<void(const std::string& line)>;

// The plans. Each reads the old image as far as it needs, keeps a few
// offsets per run of entries and no record per entry, and returns false when
// a read failed (the plan then counts for nothing).

// The entries that `words` (numbers, ranges A-B, `all`) name taken out;
// every other entry keeps its bytes, a span per run of them.
bool plan_remove(const image_source& old, const std::string& path,
                 const std::vector<std::string>& words, const change_lines& lines,
                 change_plan& plan);

// The header of entry `entry` (1-based; `entry_word` as it was typed)
// rewritten and its checksum computed again; a header whose checksum is bad
// only with `force`. Only the header block is new.
bool plan_set(const image_source& old, const std::string& path, const std::string& entry_word,
              std::size_t entry, const header_change& change, bool force, const change_lines& lines,
              change_plan& plan);

// Entry `entry` moved to become entry `position` (both 1-based, with the
// words as typed).
bool plan_move(const image_source& old, const std::string& path, const std::string& entry_word,
               std::size_t entry, const std::string& position_word, std::size_t position,
               const change_lines& lines, change_plan& plan);

// The entries `words` of the image of `source_size` bytes at `source` (at
// `source_path`; null: the old image itself, its copies then spans of it)
// put before entry `at` (1-based, `at_word` as typed; none: at the end). A
// truncated tail is copied only with `force`. The copies point into
// `source`, which must outlive the plan.
bool plan_copy(const image_source& old, const std::string& path, const std::uint8_t* source,
               std::size_t source_size, const std::string& source_path,
               const std::vector<std::string>& words, const std::optional<std::string>& at_word,
               std::size_t at, bool force, const change_lines& lines, change_plan& plan);

// The entries at `added` (whole blocks as packing makes them, an entry for
// each name of `names`, which the lines call them by) put after the last
// entry of the old image. An image that ends in an entry which takes in
// whatever follows it is refused unless `force`, since the new entries would
// be read as its part. The pieces point into `added`, which must outlive the
// plan.
bool plan_add(const image_source& old, const std::string& path, const std::uint8_t* added,
              std::size_t added_size, const std::vector<std::string>& names, bool force,
              const change_lines& lines, change_plan& plan);

// Why `choose_entries` found no entries in the image at `path`.
std::string entry_list_message(const std::string& path, const entry_list_result& result);

// "name \"PROG\", number 3, type 'B', address 0x4000": the fields a header
// change gives.
std::string describe_change(const header_change& change);

// The refusal of a new image in which entry `entry` of `origin`, of `kind`
// (a truncated tail, a file without its data block), would be followed by
// another entry.
std::string open_inside_words(const std::string& path, entry_kind kind, const std::string& origin,
                              std::size_t entry);

// The same refusal in the web page's words, which name the entry alone.
std::string open_inside_page_words(std::size_t entry);

// The value `text` of `field` stored into `change`, or why it cannot be, in
// casstool set's words ("a file number '100' is not 0 to 99"; empty when it
// can).
std::string take_header_field(header_field field, const std::string& text, header_change& change);

// The plans above made into the new image's bytes, `old` taken over (a
// removal or a header rewritten within its own buffer).
change_outcome remove_change(std::vector<std::uint8_t>&& old, const std::string& path,
                             const std::vector<std::string>& words);

change_outcome set_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::string& entry_word, std::size_t entry,
                          const header_change& change, bool force);

change_outcome move_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::string& entry_word, std::size_t entry,
                           const std::string& position_word, std::size_t position);

change_outcome copy_change(std::vector<std::uint8_t>&& old, const std::string& path,
                           const std::uint8_t* source, std::size_t source_size,
                           const std::string& source_path, const std::vector<std::string>& words,
                           const std::optional<std::string>& at_word, std::size_t at, bool force);

change_outcome add_change(std::vector<std::uint8_t>&& old, const std::string& path,
                          const std::uint8_t* added, std::size_t added_size,
                          const std::vector<std::string>& names, bool force);

// A join, taken entry by entry as its images are walked one after another
// (a file or a pipe as it comes, an image in memory), so that it keeps no
// record per entry: what it has said and found so far.
struct join_state {
    bool force = false;               // a truncated tail is taken
    int status = change_done;
    std::size_t entries = 0;          // joined from the images before this one
    std::size_t image_entries = 0;    // of this one so far
    std::uint64_t size = 0;           // the bytes of the images before this one
    std::string lines;                // a line per image
    std::vector<std::string> notes;   // the damage it was forced over
    std::string message;              // why it is refused
    // The first entry that takes in whatever follows it (a truncated tail, a
    // file without its data block), and whether another followed it.
    std::size_t open_entry = 0;       // 1-based in its image; 0: none yet
    entry_kind open_kind = entry_kind::truncated;
    std::string open_path;
    bool followed = false;
};

// Takes `entry` (numbered within its image) of the image at `path`; false,
// with the refusal in `join.message`, for a truncated tail without force.
bool join_entry(join_state& join, const std::string& path, const tape_entry& entry);

// Ends the image at `path` of `size` bytes, whose entries were all taken:
// its line said.
void join_image_done(join_state& join, const std::string& path, std::uint64_t size);

// Ends the join into `output`: false, with the refusal in `join.message`,
// where an entry that takes in what follows it was followed by another.
bool join_done(join_state& join, const std::string& output);

// The entries of `images` (at `paths`) back to back, as the image `output`;
// a truncated tail is taken only with `force`. Walks each image through a
// window, so that what it holds besides the new image does not grow with
// the number of entries.
change_outcome join_change(const std::vector<std::vector<std::uint8_t>>& images,
                           const std::vector<std::string>& paths, const std::string& output,
                           bool force);

// One image of a split: entry `entry` (1-based) alone, the `span` bytes at
// `offset` of the image split, to be written under `file_name`.
struct split_part {
    std::size_t entry = 0;
    std::size_t offset = 0;
    std::size_t span = 0;
    std::string file_name;
    std::string description; // describe_entry's words
};

// An image split into an image per entry, each named by derived_file_name.
// A refusal comes at the entry refused, with the parts before it planned,
// so that a caller which checks each part's output in turn first refuses
// what comes first.
struct split_plan {
    int status = change_done;
    std::vector<split_part> parts;
    std::vector<std::string> notes; // the damage it was forced over
    std::string message;            // why it was refused
};

// The image of `size` bytes at `image` (at `path`) split; a truncated tail
// is written only with `force`.
split_plan plan_split(const std::uint8_t* image, std::size_t size, const std::string& path,
                      bool force);

// "wrote entry 2 (headless block, 3 bytes) to OUTPUT": what writing `part`
// to `output` says, a line.
std::string split_line(const split_part& part, const std::string& output);

} // namespace cassmak::core
