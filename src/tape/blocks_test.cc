#include "tape/blocks.h"

#include "support.h"

#include <gtest/gtest.h>

using namespace cassmak::core;

TEST(SumBytes, WrapsModulo256AndKeepsTheAccumulatorForEmptyInput)
{
    const bytes data = hex("FF 02 80 80");
    struct {
        int count;
        std::uint8_t start;
        std::uint8_t expected;
    } cases[] = {{0, 0x12, 0x12}, {-3, 0x12, 0x12}, {1, 0, 0xFF},
                 {2, 0, 0x01},    {4, 0, 0x01},     {4, 0xFF, 0x00}};
    for (const auto& c : cases) {
        std::uint8_t sum = c.start;
        sum_bytes(data.data(), c.count, sum);
        EXPECT_EQ(c.expected, sum) << "count " << c.count;
    }
}

TEST(PutTapeFile, EncodesHeaderAndDataBlocks)
{
    struct {
        const char* what;
        bytes payload;
        char type;
        int number;
        std::string name;
        int address;
        bytes expected;
    } cases[] = {
        {"one byte, short name", hex("AB"), '?', 0, "A", 0,
         concat(
             {header_block("00 3F 00 00 00 00 41 20 20 20 20 20 20 20 60"), hex("02 00 AB AB")})},
        {"lower case name, number and address", hex("01 02"), '?', 3, "demo", 0x1234,
         concat({header_block("03 3F 34 12 01 00 44 45 4D 4F 20 20 20 20 2E"),
                 hex("03 00 01 02 03")})},
        {"blank name", hex("00"), '?', 0, "        ", 0,
         concat({header_block("00 3F 00 00 00 00 20*8 3F"), hex("02 00 00 00")})},
        {"empty name is padded", hex("00"), '?', 0, "", 0,
         concat({header_block("00 3F 00 00 00 00 20*8 3F"), hex("02 00 00 00")})},
        {"long name keeps 8, high bytes unchanged", hex("80 80"), '>', 99,
         "\xE4"
         "bcdefghij",
         0xFFFF,
         concat({header_block("63 3E FF FF 01 00 E4 42 43 44 45 46 47 48 67"),
                 hex("03 00 80 80 00")})},
        {"only low bits of number and address", hex("01"), '?', 0x1FF, "A", 0x12345,
         concat({header_block("FF 3F 45 23 00 00 41 20*7 C7"), hex("02 00 01 01")})},
    };
    for (const auto& c : cases) {
        output_image image;
        put_tape_file(image, c.payload.data(), static_cast<int>(c.payload.size()), c.type, c.number,
                      c.name, c.address);
        EXPECT_EQ(c.expected, image) << c.what;
        EXPECT_EQ(c.payload.size() + tape_file_overhead, image.size()) << c.what;
    }
}

TEST(PutTapeFile, LargestPayloadFillsTheLengthFields)
{
    bytes payload(65533, 0x01);
    output_image image;
    put_tape_file(image, payload.data(), 65533, '?', 0, "BIG", 0);
    ASSERT_EQ(65601u, image.size());
    // length - 1 = 0xFFFC in the file head, length + 1 = 0xFFFE in the data block.
    EXPECT_EQ(hex("FC FF"), bytes(image.begin() + 54, image.begin() + 56));
    EXPECT_EQ(hex("FE FF"), bytes(image.begin() + 65, image.begin() + 67));
    EXPECT_EQ(65533 % 256, image.back());
}

TEST(PutTapeFile, AppendsAfterWhatTheImageHolds)
{
    const bytes one = hex("AB");
    output_image image;
    put_tape_file(image, one.data(), 1, '?', 0, "A", 0);
    put_tape_file(image, one.data(), 1, '?', 0, "A", 0);
    bytes pair = concat({header_block("00 3F 00 00 00 00 41 20*7 60"), hex("02 00 AB AB")});
    EXPECT_EQ(concat({pair, pair}), image);
}

TEST(PutHeadlessBlock, LengthThenPayload)
{
    const bytes payload = hex("01 02 03");
    output_image image = hex("EE");
    put_headless_block(image, payload.data(), 3);
    EXPECT_EQ(hex("EE 03 00 01 02 03"), image);

    bytes big(65533, 0x5A);
    output_image large;
    put_headless_block(large, big.data(), 65533);
    ASSERT_EQ(65535u, large.size());
    EXPECT_EQ(hex("FD FF"), bytes(large.begin(), large.begin() + 2));
}
