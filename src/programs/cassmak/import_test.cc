#include "programs/cassmak/run.h"

#include "basic/importer.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace cassmak::core;

namespace {

struct imported {
    int status;
    bytes image;
    std::string out;
    std::string err;
};

// Runs the importer over `source` and shows its progress as cassmak does.
imported import_text(std::string_view source, int capacity = 65536)
{
    bytes buffer(static_cast<std::size_t>(capacity) + 16, 0xEE);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = report_import(import_basic(buffer.data(), capacity, source), "prog.bas");
    std::fflush(stdout);
    imported result{
        status, {}, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    // Nothing may land past the capacity, whatever the outcome.
    for (std::size_t i = static_cast<std::size_t>(capacity); i < buffer.size(); ++i)
        EXPECT_EQ(0xEE, buffer[i]) << "written past the capacity at " << i;
    if (status > 0)
        result.image.assign(buffer.begin(), buffer.begin() + status);
    return result;
}

} // namespace

TEST(ImportBasic, LineRecords)
{
    struct {
        const char* what;
        std::string_view source;
        const char* image;
    } cases[] = {
        {"one line, CR LF", "10 PRINT \"HI\"\r\n", "0C 24 0A 00 96 20 22 48 49 22 00 00 00"},
        {"two linked lines", "10 PRINT \"HI\"\n20 GOTO 10\n",
         "0C 24 0A 00 96 20 22 48 49 22 00 15 24 14 00 88 20 31 30 00 00 00"},
        {"number only", "10\n", "06 24 0A 00 00 00 00"},
        {"no space after the number", "10PRINT\n", "07 24 0A 00 96 00 00 00"},
        {"tabs after the number", "10\t\tPRINT\n", "07 24 0A 00 96 00 00 00"},
        {"inner CR stays", "10 A\rB\n", "09 24 0A 00 41 0D 42 00 00 00"},
        {"trailing blanks stay", "10 A \t \n", "0A 24 0A 00 41 20 09 20 00 00 00"},
        {"mixed trailing CR and LF go", "10 A\r\r\n\r\n", "07 24 0A 00 41 00 00 00"},
        {"NUL ends the line", std::string_view("10 A\0B\n", 7), "07 24 0A 00 41 00 00 00"},
        {"line starting with NUL",
         std::string_view("\0"
                          "10 A\n20 B\n",
                          10),
         "07 24 14 00 42 00 00 00"},
        {"last line without a break", "10 A", "07 24 0A 00 41 00 00 00"},
        {"leading spaces give number 0", "   10 PRINT\n", "0A 24 00 00 31 30 20 96 00 00 00"},
        {"blank line is a line", " \t\n", "06 24 00 00 00 00 00"},
        {"empty lines give nothing", "\r\n\n\r\r\n", "00 00"},
        {"same number twice", "10 A\n10 B\n", "07 24 0A 00 41 00 0D 24 0A 00 42 00 00 00"},
        {"number keeps its low 16 bits", "70000 A\n", "07 24 70 11 41 00 00 00"},
        {"number past 2^32 wraps", "4294967306 A\n", "07 24 0A 00 41 00 00 00"},
    };
    for (const auto& c : cases) {
        imported result = import_text(c.source);
        EXPECT_EQ(hex(c.image), result.image) << c.what;
        EXPECT_EQ(static_cast<int>(hex(c.image).size()), result.status) << c.what;
        EXPECT_EQ("", result.err) << c.what;
    }
}

TEST(ImportBasic, ProgressAndWarnings)
{
    const std::string begin = "Importing BASIC program...\n";
    const std::string done = "\rDone.\t\t\n";
    const std::string shortline = "\tLine is short. Possible problem!\n";
    struct {
        const char* what;
        std::string_view source;
        std::string out;
    } cases[] = {
        {"plain lines", "10 PRINT\n20 END\n", begin + "\rLine: 10\rLine: 20" + done},
        {"empty program", "\n\n\n\n\n", begin + done},
        {"wrong order names the previous line", "20 A=1\n10 B=2\n",
         begin + "\rLine: 20\rLine: 10\tWrong order of line. Last line 20\n" + done},
        {"repeated number is in order", "10 A=1\n10 B=2\n", begin + "\rLine: 10\rLine: 10" + done},
        {"large number shown whole", "70000 A=1\n10 B=2\n",
         begin + "\rLine: 70000\rLine: 10\tWrong order of line. Last line 70000\n" + done},
        {"short texts", "10 AB\n20 ABC\n30\n",
         begin + "\rLine: 10" + shortline + "\rLine: 20\rLine: 30" + shortline + done},
        {"short counts what follows the blanks", "10    AB  \n", begin + "\rLine: 10" + done},
        {"number past 2^31 is negative", "2147483648 PRINT\n10 END\n",
         begin + "\rLine: -2147483648\tWrong order of line. Last line 0\n\rLine: 10" + done},
        {"number wraps modulo 2^32", "4294967306 END\n5 END\n",
         begin + "\rLine: 10\rLine: 5\tWrong order of line. Last line 10\n" + done},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, import_text(c.source).out) << c.what;
}

TEST(ImportBasic, LongLinesComeInPieces)
{
    // 130 characters: a 126-character piece, then "XXXX" as a line of its own.
    std::string source = "10 REM " + std::string(123, 'X') + "\n";
    imported result = import_text(source);
    bytes expected = concat({hex("7F 24 0A 00 8E 20"), bytes(119, 0x58),
                             hex("00 88 24 00 00 58 58 58 58 00"), hex("00 00")});
    EXPECT_EQ(expected, result.image);
    EXPECT_EQ("Importing BASIC program...\n\rLine: 10\tLine is long. Possible problem!\n"
              "\rLine: 0\tWrong order of line. Last line 10\n\rDone.\t\t\n",
              result.out);

    // 77 characters draw no warning, 78 do.
    std::string at_limit = "10 " + std::string(74, 'A') + "\n";
    EXPECT_EQ(std::string::npos, import_text(at_limit).out.find("long"));
    std::string over = "10 " + std::string(75, 'A') + "\n";
    EXPECT_NE(std::string::npos, import_text(over).out.find("Line is long"));
}

TEST(ImportBasic, RefusesAnImageLargerThanTheLimit)
{
    // "1 A" records are 6 bytes; n records and the end link take 6n + 2.
    auto program = [](int lines) {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += "1 A\n";
        return text;
    };
    imported fits = import_text(program(2), 14);
    EXPECT_EQ(14, fits.status);
    imported over = import_text(program(2), 13);
    EXPECT_EQ(-19, over.status);
    EXPECT_EQ("BASIC program from 'prog.bas' is too large (max. 13 bytes)!\n\n", over.err);
    EXPECT_EQ(-19, import_text("", 1).status);
    EXPECT_EQ(2, import_text("", 2).status);

    // The links may reach 0xFFFF and no further: 56,320 bytes of image are
    // 9385 records of 6 bytes, one of 8 and the end link.
    std::string edge = program(9385) + "1 AAA\n";
    imported largest = import_text(edge);
    ASSERT_EQ(56320, largest.status);
    EXPECT_EQ(hex("FF FF 01 00 41 41 41 00 00 00"),
              bytes(largest.image.end() - 10, largest.image.end()));
    EXPECT_EQ("", largest.err);
    imported too_large = import_text(program(9385) + "1 AAAA\n");
    EXPECT_EQ(-19, too_large.status);
    EXPECT_EQ("BASIC program from 'prog.bas' is too large (max. 56320 bytes)!\n\n", too_large.err);
}
