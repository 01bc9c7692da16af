// A BASIC program stored on a tape renumbered as casstool renum numbers a
// source (renumber.h): each record's number from a first one by a step,
// each reference in the tokenized text rewritten, the links computed again
// from the base address.
#pragma once

#include "basic/renumber.h"
#include "tape/changes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cassmak::core {

// `status`: work_sound; work_damaged when a reference names no line (each in
// `warnings`, its record named, left as written); work_failed when refused
// (`message`): records that do not end within the image, numbers past 65535,
// or an image grown past what the links can address. Bytes after the zero
// link stay after it.
struct program_renumber {
    int status = 0;
    std::vector<std::uint8_t> image;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> moves; // old and new, per record
    std::vector<std::string> warnings;
    std::string message;
};

program_renumber renumber_program(const std::uint8_t* image, std::size_t size,
                                  const renumber_settings& settings);

// Entry `entry` of the image (1-based, `entry_word` as typed), a file of type
// '>' whose blocks are sound, given the program renumbered: its header's
// length and checksum and its data block made again, every other byte kept.
// The warnings go to `plan.notes`, and make the status change_forced.
bool plan_renumber(const image_source& old, const std::string& path, const std::string& entry_word,
                   std::size_t entry, const renumber_settings& settings, const change_lines& lines,
                   change_plan& plan);

// The plan made into the new image's bytes.
change_outcome renumber_change(std::vector<std::uint8_t>&& old, const std::string& path,
                               const std::string& entry_word, std::size_t entry,
                               const renumber_settings& settings);

} // namespace cassmak::core
