// What casstool's commands share about the files they read and write: the
// whole-file reads with their limits, the entries of an image, the labels of
// their messages, and the output of a command's bytes.
#pragma once

#include "io/files.h"
#include "tape/edit.h"
#include "tape/reader.h"
#include "tape/words.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core = cassmak::core;

// Reads the whole file at `path` into `buffer` (kept between files, so that
// going through many allocates once) and sets `size`. A file of more than
// `limit` bytes is refused, `too_large` saying why.
int load_file(const std::string& path, std::size_t limit, std::string_view too_large,
              std::vector<std::uint8_t>& buffer, std::size_t& size);

// load_file with the limit of a tape image.
int load_image(const std::string& path, std::vector<std::uint8_t>& buffer, std::size_t& size);

// What walk_image does with an image as it goes: `begin` once the input is
// open, with its size when that is known before reading (a regular file);
// `visit` for each entry, whose offsets count from `window`, the image's byte
// `base`; returning false stops the walk.
struct image_visitor {
    std::function<void(bool size_known, std::uint64_t size)> begin;
    core::window_visitor visit;
};

// Walks the image at `path` entry by entry (the core's walk_image_window),
// whatever its size and its number of blocks, and sets `size` to the bytes
// read. A failure to open or read it, or an image larger than the largest,
// is reported.
int walk_image(const std::string& path, const image_visitor& visitor, std::uint64_t& size);

// An image that a command walks more than once. A file named by its path is
// opened again for each walk. Standard input can be read only once: where it
// is a regular file, the first walk reads it whole into `bytes` (within the
// largest image) and every walk goes over those; a pipe is walked as it
// comes, and a second walk finds its end.
struct image_walks {
    std::string path;
    bool held = false;
    std::vector<std::uint8_t> bytes;
};

// walk_image over `image`, as its walks go.
int walk_image_again(image_walks& image, const image_visitor& visitor);

// The entry that a walk over a whole image looked for, with its payload, and
// how many entries the image has.
struct found_entry {
    std::size_t count = 0;
    bool found = false;
    core::tape_entry entry;
    std::vector<std::uint8_t> payload; // a copy of the entry's payload bytes
};

// Walks the whole image at `path` (walk_image) and keeps the first entry for
// which `wanted` is true. Memory stays that of the window and one payload.
int find_image_entry(const std::string& path,
                     const std::function<bool(const core::tape_entry&)>& wanted,
                     found_entry& found);

// Reports that the image at `path`, of `count` entries, has no entry `typed`
// (the number as it was typed) and returns tool_failed.
int report_missing_entry(const std::string& path, const std::string& typed, std::size_t count);

// Reads the image at `path` whole (load_image) into `image`, which then
// holds its bytes, with its entries.
int load_entries(const std::string& path, core::tape_image& image);

// Looks at the folder that `extract all` or `split` writes into, before
// anything is written: tool_ok, with `missing` set for one that is to be
// made; a path that names something else is refused.
int look_at_target_folder(const std::optional<std::string>& folder, bool& missing);

// Makes that folder (and the folders above it), as `unzip -d` does; a
// failure is reported with the system's reason.
int make_target_folder(const std::string& folder, core::sync_mode sync);

// `name` in `folder`, or alone without one.
std::string path_in_folder(const std::optional<std::string>& folder, const std::string& name);

// A file without a data block has no bytes to give back, forced or not.
int refuse_missing_data(const std::string& path, const core::tape_entry& entry);

// Writes `count` bytes to `output` with the safe writer, or to standard
// output when there is none. A pipe or terminal named as the output, such as
// /dev/stdout, cannot be replaced and takes the bytes as they come.
int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count, core::sync_mode sync = core::sync_mode::durable);

// write_bytes, `streamed` set where the output took the bytes as they come.
int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count, core::sync_mode sync, bool& streamed);

// Writes a file made in a folder at `path`, whose name was found free: it
// takes the name only if that is still free, so that a file put there since
// is refused with "PATH: " and `taken`, not replaced.
int write_new_file(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                   core::sync_mode sync, const std::string& taken);

// As write_bytes, for bytes that are not text: standard output is refused
// when it is a terminal.
int write_binary(const std::optional<std::string>& output, const std::uint8_t* bytes,
                 std::size_t count, core::sync_mode sync = core::sync_mode::durable);

// Reports what write_output gave for `path` unless it was written; tool_ok
// or tool_failed. After `streamed` bytes, some may have reached the output.
int report_write_result(const std::string& path, const core::write_result& result, bool streamed);
