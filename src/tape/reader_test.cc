#include "tape/reader.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace cassmak::core;

namespace {

// One entry in a line: kind@offset+span, the payload length, for a file its
// head and checksum states, where the payload lies, and the problem.
std::string describe(const tape_entry& e)
{
    static const char* const kinds[] = {"file", "headless", "truncated"};
    std::string out = std::to_string(e.entry) + " " + kinds[static_cast<int>(e.kind)] + "@" +
                      std::to_string(e.offset) + "+" + std::to_string(e.span) +
                      " len=" + std::to_string(e.length);
    if (e.kind == entry_kind::file) {
        static const char* const states[] = {"good", "bad", "absent"};
        out += " no=" + std::to_string(e.number) + " type=" + static_cast<char>(e.type) +
               " addr=" + std::to_string(e.address) +
               " name=" + std::string(e.name.begin(), e.name.end()) +
               " hdr=" + (e.header_checksum_good ? "good" : "bad") +
               " data=" + states[static_cast<int>(e.data_checksum)];
    }
    return out + " at=" + std::to_string(e.payload_offset) + ":" + std::to_string(e.payload_size) +
           (e.problem.empty() ? "" : " (" + e.problem + ")");
}

// The file of the one-byte payload AB, type ?, number 0, address 0, name A.
const bytes good_header = header_block("00 3F 00 00 00 00 41 20 20 20 20 20 20 20 60");
const bytes good_file = concat({good_header, hex("02 00 AB AB")});
const char* const good_row = "file@0+69 len=1 no=0 type=? addr=0 name=A        hdr=good data=good "
                             "at=67:1";

} // namespace

TEST(ReadTapeImage, WalksBlocksIntoEntries)
{
    struct {
        const char* what;
        bytes image;
        std::vector<std::string> rows;
    } cases[] = {
        {"empty image", {}, {}},
        {"good file", good_file, {std::string("1 ") + good_row}},
        {"headless, empty block",
         hex("03 00 01 02 03 00 00"),
         {"1 headless@0+5 len=3 at=2:3", "2 headless@5+2 len=0 at=7:0"}},
        {"file head fields",
         concat(
             {header_block("03 3F 34 12 01 00 44 45 4D 4F 20 20 20 20 2E"), hex("03 00 01 02 03")}),
         {"1 file@0+70 len=2 no=3 type=? addr=4660 name=DEMO     hdr=good data=good at=67:2"}},
        {"cut tail",
         concat({good_file, hex("05 00 01 02")}),
         {std::string("1 ") + good_row,
          "2 truncated@69+4 len=4 at=69:4 (block of 5 bytes cut short after 2)"}},
        {"one byte left",
         concat({good_file, hex("07")}),
         {std::string("1 ") + good_row,
          "2 truncated@69+1 len=1 at=69:1 (1 byte, too short for a length field)"}},
        {"header without data",
         good_header,
         {"1 file@0+65 len=1 no=0 type=? addr=0 name=A        hdr=good data=absent at=0:0 "
          "(no data block)"}},
        {"header, then a cut block",
         concat({good_header, hex("09 00 AB")}),
         {"1 file@0+65 len=1 no=0 type=? addr=0 name=A        hdr=good data=absent at=0:0 "
          "(no data block)",
          "2 truncated@65+3 len=3 at=65:3 (block of 9 bytes cut short after 1)"}},
        {"bad checksums",
         concat({header_block("00 3F 00 00 00 00 41 20 20 20 20 20 20 20 61"), hex("02 00 AB AC")}),
         {"1 file@0+69 len=1 no=0 type=? addr=0 name=A        hdr=bad data=bad at=67:1 (bad "
          "header checksum, bad data checksum)"}},
        {"data length mismatch",
         concat({good_header, hex("03 00 AB 01 AC")}),
         {"1 file@0+70 len=1 no=0 type=? addr=0 name=A        hdr=good data=good at=67:2 (data "
          "block of 3 bytes, header wants 2)"}},
        {"empty data block",
         concat({good_header, hex("00 00")}),
         {"1 file@0+67 len=1 no=0 type=? addr=0 name=A        hdr=good data=bad at=67:0 (data "
          "block of 0 bytes, header wants 2, bad data checksum)"}},
        // The loader takes any 63-byte block that starts with the sync
        // pattern as a header, and the block after it as its data.
        {"63-byte sync block read as header",
         concat({hex("3F 00 FF*16 00*16 55*16 01*15"), hex("01 00 07")}),
         {"1 file@0+68 len=258 no=1 type=\x01 addr=257 name=\x01\x01\x01\x01\x01\x01\x01\x01 "
          "hdr=bad data=bad at=67:0 (bad header checksum, data block of 1 byte, header wants "
          "259, bad data checksum)"}},
        {"63-byte block without the sync pattern",
         hex("3F 00 FF*16 00*16 55*15 54 01*15"),
         {"1 headless@0+65 len=63 at=2:63"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> rows;
        for (const tape_entry& entry : read_tape_image(c.image.data(), c.image.size()))
            rows.push_back(describe(entry));
        EXPECT_EQ(c.rows, rows) << c.what;
    }
}

namespace {

// The rows of `image` walked through the window, `chunk` bytes a read at
// most, with the offsets counted from the image's start; each payload must
// be the image's own bytes. `walked` is the walk's answer.
std::vector<std::string> window_rows(const bytes& image, std::size_t chunk, bool& walked,
                                     std::size_t readable = SIZE_MAX, std::size_t visits = SIZE_MAX)
{
    std::size_t given = 0;
    std::vector<std::string> rows;
    walked = walk_image_window(
        [&](std::uint8_t* into, std::size_t room, std::size_t& got) {
            got = std::min({room, chunk, image.size() - given});
            if (given + got > readable)
                return false;
            std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(given), got, into);
            given += got;
            return true;
        },
        [&](const tape_entry& entry, const std::uint8_t* window, std::uint64_t base) {
            tape_entry in_image = entry;
            in_image.offset += base;
            in_image.payload_offset += base;
            EXPECT_TRUE(std::equal(
                window + entry.payload_offset, window + entry.payload_offset + entry.payload_size,
                image.begin() + static_cast<std::ptrdiff_t>(in_image.payload_offset)))
                << entry.entry;
            rows.push_back(describe(in_image));
            return rows.size() < visits;
        });
    return rows;
}

} // namespace

TEST(WalkImageWindow, GivesTheEntriesOfTheWholeImageWhateverTheReads)
{
    // Blocks of the largest length, so that the window moves on several
    // times and an entry straddles each of its ends.
    const bytes large = [] {
        bytes image;
        for (int i = 0; i < 9; ++i)
            image = concat({image, hex("FF FF"), bytes(0xFFFF, static_cast<std::uint8_t>(i))});
        return concat({image, good_file, hex("05 00 01 02")});
    }();
    const bytes small = concat({good_file, hex("03 00 01 02 03 07")});
    for (const bytes* image : {&small, &large}) {
        std::vector<std::string> expected;
        for (const tape_entry& entry : read_tape_image(image->data(), image->size()))
            expected.push_back(describe(entry));
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{4093}, SIZE_MAX}) {
            bool walked = false;
            EXPECT_EQ(expected, window_rows(*image, chunk, walked))
                << image->size() << " " << chunk;
            EXPECT_TRUE(walked);
        }
    }

    // A visit that says stop ends the walk, which is no failure; a read
    // that fails is.
    bool walked = false;
    EXPECT_EQ(1U, window_rows(large, SIZE_MAX, walked, SIZE_MAX, 1).size());
    EXPECT_TRUE(walked);
    window_rows(large, 4093, walked, large.size() / 2);
    EXPECT_FALSE(walked);
}
