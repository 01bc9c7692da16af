#include "basic/detokenizer.h"

#include "basic/importer.h"
#include "basic/tokenizer.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace cassmak::core;

namespace {

struct record {
    unsigned number;
    std::string text;
};

// A program image of `records`, each linked to the next, and the zero link.
bytes program(const std::vector<record>& records)
{
    bytes image;
    for (const record& r : records) {
        const std::size_t next = basic_base_address + image.size() + 4 + r.text.size() + 1;
        image.insert(image.end(),
                     {static_cast<std::uint8_t>(next), static_cast<std::uint8_t>(next >> 8),
                      static_cast<std::uint8_t>(r.number),
                      static_cast<std::uint8_t>(r.number >> 8)});
        image.insert(image.end(), r.text.begin(), r.text.end());
        image.push_back(0);
    }
    image.insert(image.end(), {0, 0});
    return image;
}

basic_listing list(const bytes& image)
{
    return list_basic_program(image.data(), image.size());
}

bytes import(const std::string& source)
{
    bytes buffer(65536);
    const int length = import_basic(buffer.data(), 65536, source).length;
    EXPECT_GE(length, 2);
    buffer.resize(static_cast<std::size_t>(std::max(length, 0)));
    return buffer;
}

// Source -> image -> listing -> image: no warnings, the same bytes, and a
// listing cassmak takes as a source.
void expect_round_trip(const std::string& source, const std::string& what)
{
    const bytes image = import(source);
    const basic_listing listing = list(image);
    EXPECT_EQ(std::vector<std::string>{}, listing.warnings) << what;
    EXPECT_TRUE(same_bytes(image, import(listing.text))) << what;
    EXPECT_GE(listing.text.size(), static_cast<std::size_t>(basic_source_min)) << what;
    if (source.size() <= basic_source_max) {
        EXPECT_LE(listing.text.size(), static_cast<std::size_t>(basic_source_max)) << what;
    }
}

} // namespace

TEST(ListBasicProgram, LinesOfRecords)
{
    const std::string a123(123, 'A');
    std::string prints;
    for (int i = 0; i < 23; ++i)
        prints += "PRINT";
    struct {
        const char* what;
        unsigned number;
        std::string text;
        std::string line;
    } cases[] = {
        // clang-format off
        {"keywords", 10, "\x96 \"HI\":\x88 10", "10 PRINT \"HI\":GOTO 10\n"},
        {"raw AT before N", 10, "\xE7N", "10 \xE7N\n"},
        {"raw INP before UT", 10, "\xB3UT", "10 \xB3UT\n"},
        {"raw NOT after O", 10, "O\xA2X", "10 O\xA2X\n"},
        {"token bytes inside a string", 10, "\"\x96\"\x96", "10 \"\x96\"PRINT\n"},
        {"nothing after REM", 10, "\x8E \x96", "10 REM \x96\n"},
        {"quoted colon in DATA", 10, "\x83 \"\x96:\",\x96:\x96", "10 DATA \"\x96:\",\x96:PRINT\n"},
        {"empty text, padded", 7, "", "7\n\n\n\n"},
        {"number 0", 0, "AB", "0 AB\n"},
        {"126 characters", 10, a123, "10 " + a123 + "\n"},
        {"127: no space", 10, a123 + "B", "10" + a123 + "B\n"},
        {"128 numbered 0: no number", 0, a123 + "BCD", a123 + "BCD\n"},
        {"127 numbered 0, digit first", 0, "9" + a123 + "B", " 9" + a123 + "B\n"},
        {"longest keywords raw, leftmost first", 10, "\xDB\xDB" + std::string(28, '\x96'),
         "10\xDB\xDB" + std::string(5, '\x96') + prints + "\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const basic_listing listing = list(program({{c.number, c.text}}));
        EXPECT_EQ(c.line, listing.text) << c.what;
        EXPECT_EQ(std::vector<std::string>{}, listing.warnings) << c.what;
    }
}

TEST(ListBasicProgram, WarnsAboutLinksAndLinesThatWillNotComeBack)
{
    bytes bad_link = program({{10, "A"}, {20, "B"}});
    bad_link[6] = 0x99;
    bytes trailing = program({{10, "A"}});
    trailing.push_back(0x41);
    bytes no_end = program({{10, "A"}});
    no_end.pop_back();
    const std::string first = "line 10 (record 1 at 0x2401)";
    const std::string will_not = first + " will not come back identically: its ";
    struct {
        const char* what;
        bytes image;
        std::string text;
        std::string warning;
    } cases[] = {
        // clang-format off
        {"link", bad_link, "10 A\n20 B\n", "line 20 (record 2 at 0x2407) links to 0x2499 instead of 0x240D"},
        {"after the zero link", trailing, "10 A\n", "1 byte follows the zero link at 0x2407 after " + first},
        {"no zero link", no_end, "10 A\n", "the data ends at 0x2408 without the zero link after " + first},
        {"empty data", {}, "\n\n\n\n\n", "the data ends at 0x2401 without the zero link before any record"},
        {"cut off", hex("07 24 0A 00 41"), "10 A\n", first + " runs past the end of the data, without its 0x00 and the zero link"},
        {"keyword in letters", program({{10, "PRINT"}}), "10 PRINT\n", will_not + "text spells out a keyword where the importer would store a token"},
        {"leading blank", program({{10, " A"}}), "10  A\n", will_not + "text begins with white space, which the importer skips"},
        {"newline", program({{10, "A\nB"}}), "10 A\nB\n", will_not + "text holds a newline, which ends a source line"},
        {"carriage return", program({{10, "A\r"}}), "10 A\r\n", will_not + "text ends with a carriage return, which the importer strips"},
        {"too long", program({{10, "9" + std::string(123, 'A')}}), "10 9" + std::string(123, 'A') + "\n",
         will_not + "shortest line has 127 characters, more than the importer reads at once (126)"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const basic_listing listing = list(c.image);
        EXPECT_EQ(c.text, listing.text) << c.what;
        EXPECT_EQ(std::vector<std::string>{c.warning}, listing.warnings) << c.what;
    }
}

// The machine's addresses have 16 bits: a place past 0xFFFF, which only a
// hostile image holds, is named by its offset in the data.
TEST(ListBasicProgram, NamesNoAddressPast0xFFFF)
{
    // Its next record would start at 0x2401 + 60005 = 0x10E66.
    bytes image = program({{10, std::string(60000, 'A')}, {20, "B"}});
    image[0] = 0x34;
    image[1] = 0x12;
    const basic_listing listing = list(image);
    ASSERT_FALSE(listing.warnings.empty());
    EXPECT_EQ("line 10 (record 1 at 0x2401) links to 0x1234; the next record would lie past "
              "0xFFFF, at offset 60005 of the data",
              listing.warnings[0]);
    for (const std::string& warning : listing.warnings)
        for (std::size_t at = warning.find("0x"); at != std::string::npos;
             at = warning.find("0x", at + 1))
            EXPECT_FALSE(std::isxdigit(static_cast<unsigned char>(warning[at + 6])) != 0)
                << warning;
    EXPECT_NE(listing.warnings.end(),
              std::find(listing.warnings.begin(), listing.warnings.end(),
                        "line 20 (record 2 at offset 60005 of the data, past 0xFFFF) links to "
                        "0x0E6C; the next record would lie past 0xFFFF, at offset 60011 of the "
                        "data"))
        << testing::PrintToString(listing.warnings);
}

TEST(ListBasicProgram, RoundTripOfTheExampleAndOfEveryToken)
{
    const std::filesystem::path example = std::filesystem::path(CASSMAK_EXAMPLES) / "primes.bas";
    std::ifstream file(example, std::ios::binary);
    ASSERT_TRUE(file) << example;
    std::stringstream primes;
    primes << file.rdbuf();
    expect_round_trip(primes.str(), "primes.bas");

    // Every token byte as its keyword and raw, between letters that could
    // join it into another keyword, in and out of strings, REM and DATA;
    // numbered, unnumbered, behind blanks, and long enough to be cut.
    for (const char* around : {"N", "O", "UT", "ROL", "\"", "DATA ", "REM ", "10 ", "  "}) {
        std::string source;
        for (int token = 0x80; token <= 0xFF; ++token) {
            const std::string keyword(keyword_of(token));
            const std::string both = around + keyword + around + static_cast<char>(token) + around;
            source += std::to_string(token % 3 * 60000) + " " + both + ":" + both + both + "\n";
            source += both + std::string(40, static_cast<char>(token)) + both + "\r\n";
        }
        expect_round_trip(source, around);
    }
}

// A source of exactly the most cassmak reads whose plain listing would be
// longer: lines that need no space after the number, lines cut by the read,
// and a last line without a line break.
TEST(ListBasicProgram, ListingOfTheLargestSourceStaysASource)
{
    std::string source;
    for (int i = 0; i < 4; ++i)
        source += "12345" + std::string(121, 'B') + "C\n";
    for (int i = 0; i < 9288; ++i)
        source += "12345A\n";
    source += "12345AB";
    ASSERT_EQ(static_cast<std::size_t>(basic_source_max), source.size());
    expect_round_trip(source, "largest");
    EXPECT_EQ(source, list(import(source)).text);
}

// The fitting as first written, one keyword per pass over the whole record:
// the single sweeps must drop exactly the keywords it drops.
TEST(ListBasicProgram, FittingDropsWhatOnePassPerKeywordDrops)
{
    auto one_per_pass = [](std::string_view text, std::vector<bool>& as_keyword, std::size_t length,
                           std::size_t limit) {
        while (length > limit) {
            std::size_t longest = 1;
            std::size_t at = text.size();
            for (std::size_t i = 0; i < text.size(); ++i) {
                const std::size_t size = keyword_of(static_cast<unsigned char>(text[i])).size();
                if (as_keyword[i] && size > longest) {
                    longest = size;
                    at = i;
                }
            }
            if (at == text.size())
                break;
            as_keyword[at] = false;
            length -= longest - 1;
        }
        return length;
    };
    std::mt19937 random(2024);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 300, 'A');
        std::vector<bool> as_keyword(text.size());
        std::size_t length = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char>(random() % 2 ? 0x80 + random() % 128 : 'A' + random() % 26);
            const std::size_t size = keyword_of(static_cast<unsigned char>(text[i])).size();
            as_keyword[i] = size > 0 && random() % 4 != 0;
            length += as_keyword[i] ? size : 1;
        }
        const std::size_t limit = random() % (length + 2);
        std::vector<bool> expected = as_keyword;
        const std::size_t expected_length = one_per_pass(text, expected, length, limit);
        EXPECT_EQ(expected_length, fit_keywords(text, as_keyword, length, limit)) << round;
        EXPECT_EQ(expected, as_keyword) << round;
    }
}
