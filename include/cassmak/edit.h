// Changing tapes as casstool's changing commands do: remove (rm), retag
// (set), move, insert from another tape (copy), join and split. Every change
// is made of whole entries, so an entry a change does not touch keeps every
// byte, damaged or not. Nothing is written: save the image with save_tape
// (cassmak/write.h).
#pragma once

#include "cassmak/export.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cassmak {

// `status` is casstool's exit status for the same change: 0 done, 1 done
// with `force` over damage (each in `notes`), 2 refused (`message`, and no
// image). `lines` are what the command prints on standard output, `notes`
// and `message` what it prints on standard error after "casstool: ". `path`
// names the image in them as the command line would.
struct change_result {
    int status = 0;
    std::vector<std::uint8_t> image;
    std::string lines;
    std::vector<std::string> notes;
    std::string message;
};

// `casstool rm PATH ENTRY...`: the entries named by `entries` (numbers,
// ranges A-B, "all", as typed) taken out.
CASSMAK_API change_result remove_entries(std::vector<std::uint8_t> image,
                                         const std::vector<std::string>& entries,
                                         const std::string& path = "tape.kst");

// The header fields to rewrite, as typed after --name, --number, --type and
// --address (numbers decimal, 0x hex or 0 octal); those not given stay.
struct header_fields {
    std::optional<std::string> name, number, type, address;
};

// `casstool set PATH ENTRY --FIELD VALUE... [--force]`: the header of file
// entry `entry` (1-based) rewritten and its checksum computed again. A field
// that cannot be stored is refused with set's words ("a file number '100'
// is not 0 to 99").
CASSMAK_API change_result retag_entry(std::vector<std::uint8_t> image, std::size_t entry,
                                      const header_fields& fields, bool force = false,
                                      const std::string& path = "tape.kst");

// `casstool move PATH ENTRY POSITION`: entry `entry` moved to become entry
// `position` (both 1-based).
CASSMAK_API change_result move_entry(std::vector<std::uint8_t> image, std::size_t entry,
                                     std::size_t position, const std::string& path = "tape.kst");

// `casstool copy SOURCE ENTRY... --to PATH [--at POSITION] [--force]`: the
// entries `entries` of `source` inserted before entry `at` (1-based; none:
// at the end). An empty `image` is a tape that is not there yet.
CASSMAK_API change_result insert_entries(std::vector<std::uint8_t> image,
                                         const std::vector<std::uint8_t>& source,
                                         const std::vector<std::string>& entries,
                                         std::optional<std::size_t> at = std::nullopt,
                                         bool force = false, const std::string& path = "tape.kst",
                                         const std::string& source_path = "source.kst");

// `casstool add PATH FILE... [--force]` once the files are made (make_file,
// make_headless, import_basic; their images back to back in `made`): the
// entries of `made` put after the last entry of `image`, one line each,
// naming them by `names`. An image that ends in a truncated tail or a file
// without its data block is refused unless `force`, since the new entries
// would be read as its part. An empty `image` is a tape not there yet.
CASSMAK_API change_result add_entries(std::vector<std::uint8_t> image,
                                      const std::vector<std::uint8_t>& made,
                                      const std::vector<std::string>& names, bool force = false,
                                      const std::string& path = "tape.kst");

// retag_entry, move_entry and insert_entries with the entry numbers as
// typed: digits, as casstool takes them. A word that is none is refused with
// the command's words ("entry '-1' is not a number", "position 'x' is not a
// number"); a number past every entry is named as typed ("no entry
// 18446744073709551616; its entries are 1 to 3").
CASSMAK_API change_result retag_typed_entry(std::vector<std::uint8_t> image,
                                            const std::string& entry, const header_fields& fields,
                                            bool force = false,
                                            const std::string& path = "tape.kst");
CASSMAK_API change_result move_typed_entry(std::vector<std::uint8_t> image,
                                           const std::string& entry, const std::string& position,
                                           const std::string& path = "tape.kst");
CASSMAK_API change_result insert_entries_typed(std::vector<std::uint8_t> image,
                                               const std::vector<std::uint8_t>& source,
                                               const std::vector<std::string>& entries,
                                               const std::optional<std::string>& at,
                                               bool force = false,
                                               const std::string& path = "tape.kst",
                                               const std::string& source_path = "source.kst");

// `casstool join -o OUTPUT PATH... [--force]`: the entries of `images`
// (named `paths`, one each) back to back.
CASSMAK_API change_result join_tapes(const std::vector<std::vector<std::uint8_t>>& images,
                                     const std::vector<std::string>& paths,
                                     const std::string& output = "joined.kst", bool force = false);

// `casstool renum PATH ENTRY --start START --step STEP`: the BASIC program
// in file entry `entry` (1-based, type '>') renumbered as renumber_source
// (cassmak/basic.h) numbers a source, its links computed again from
// 0x2401 and its blocks' length and checksums made again. A reference to a
// missing line stays as written and is a note, with status 1.
CASSMAK_API change_result renumber_entry(std::vector<std::uint8_t> image, std::size_t entry,
                                         std::uint32_t start = 10, std::uint32_t step = 10,
                                         const std::string& path = "tape.kst");
// renumber_entry with the entry number as typed, worded as retag_typed_entry
// words it.
CASSMAK_API change_result renumber_typed_entry(std::vector<std::uint8_t> image,
                                               const std::string& entry, std::uint32_t start = 10,
                                               std::uint32_t step = 10,
                                               const std::string& path = "tape.kst");

// One image of a split: the file name casstool split gives it and its bytes.
struct split_piece {
    std::string file_name; // "01-HELLO.kst"
    std::vector<std::uint8_t> image;
};

// `status`, `notes` and `message` as for change_result; `lines` are split's
// lines for the pieces written into the current folder.
struct split_result {
    int status = 0;
    std::vector<split_piece> pieces;
    std::string lines;
    std::vector<std::string> notes;
    std::string message;
};

// `casstool split PATH [--force]`: each entry as an image of its own. A
// truncated tail only with `force`; nothing is written.
CASSMAK_API split_result split_tape(const std::vector<std::uint8_t>& image, bool force = false,
                                    const std::string& path = "tape.kst");

} // namespace cassmak
