// Reading a tape: its entries as the machine's loader sees them, and the
// listing `casstool list` prints of them.
#pragma once

#include "cassmak/export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cassmak {

enum class entry_kind {
    file,      // a header block and the block after it
    headless,  // any other whole block
    truncated, // bytes at the end that do not make a whole block
};

enum class data_checksum { good, bad, absent };

// One entry of an image. The entries of an image cover it from its first
// byte to its last, without gap or overlap.
struct entry {
    std::size_t position = 0; // 1-based, as casstool numbers entries
    std::size_t offset = 0;   // of the entry's first length field
    std::size_t span = 0;     // bytes of the image the entry takes
    entry_kind kind = entry_kind::headless;
    // The payload length: the header's field + 1 for a file, the block
    // length for a headless block, the bytes left for a truncated entry.
    std::size_t length = 0;
    // A file's header fields (0 and spaces for any other entry).
    std::uint8_t number = 0;
    std::uint8_t type = 0;
    std::uint16_t address = 0;
    std::array<std::uint8_t, 8> name{};
    bool header_checksum_good = false;
    data_checksum data = data_checksum::absent;
    // Where the bytes `casstool extract` gives back lie in the image.
    std::size_t payload_offset = 0;
    std::size_t payload_size = 0;
    std::string problem;        // casstool's words for the damage; empty when sound
    std::string kind_name;      // "file", "headless", "truncated"
    std::string checksum_words; // "good", "data bad", "no data", "-", ...
};

// `status`: 0 every entry sound, 1 some damaged (casstool list's exit
// status), 2 a failure (out of memory), with `message`.
struct tape_contents {
    int status = 0;
    std::vector<entry> entries;
    std::string message;
};

// The entries of the `size` bytes at `image`, in image order. An entry
// takes about 200 bytes here, whatever its size in the image: an image of
// many tiny entries (2 bytes each at the least) takes about 100 times its
// size this way. index_tape and read_entries read one whose size is not
// known to be small.
CASSMAK_API tape_contents read_tape(const std::uint8_t* image, std::size_t size);

// Where the entries of an image begin: 4 bytes an entry, twice the image's
// size at the most (an image is at most 1 GiB), found from the length
// fields and headers alone (no checksum is summed). `status` 0, or 2 for a
// failure (out of memory, or an image past 4 GiB) with `message`; whether
// an entry is damaged read_entries tells.
struct tape_index {
    int status = 0;
    std::vector<std::uint32_t> offsets; // of each entry's first length field, in order
    std::string message;
};

CASSMAK_API tape_index index_tape(const std::uint8_t* image, std::size_t size);

// The entries `first` to `first + count - 1` (0-based; numbered from
// `first + 1` as read_tape numbers them) of the image `index` was made of,
// read from their offsets there; fewer past the last entry. `status` 1 when
// any of them is damaged.
CASSMAK_API tape_contents read_entries(const std::uint8_t* image, std::size_t size,
                                       const tape_index& index, std::size_t first,
                                       std::size_t count);

// Text with the status of the work that made it, as casstool gives both.
struct text_result {
    int status = 0;
    std::string text;
    std::string message;
};

// `casstool list IMAGE` of the image, naming it `path`: the head line, the
// table and the summary, byte for byte.
CASSMAK_API text_result list_table(const std::uint8_t* image, std::size_t size,
                                   const std::string& path);

// `casstool list --json IMAGE`: one JSON object per entry and line.
CASSMAK_API text_result list_json(const std::uint8_t* image, std::size_t size,
                                  const std::string& path);

// The image file at `path` read whole (at most 1 GiB), with casstool's
// message when it cannot be ("PATH: cannot open: REASON"; status 2). Its
// bytes are `image`, as in every other result that holds a tape.
struct loaded_image {
    int status = 0;
    std::vector<std::uint8_t> image;
    std::string message;
};
CASSMAK_API loaded_image load_image(const std::string& path);

// load_image as 1.0 to 1.3 named it, the bytes in `bytes`: kept, record and
// function, for the programs built on those releases; new code calls
// load_image. (Renaming the member would keep the record's layout but not
// the sources that name it.)
struct loaded_tape {
    int status = 0;
    std::vector<std::uint8_t> bytes;
    std::string message;
};
CASSMAK_API loaded_tape load_tape(const std::string& path);

} // namespace cassmak
