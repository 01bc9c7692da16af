#include "basic/tokenizer.h"

#include "support.h"

#include <gtest/gtest.h>

using namespace cassmak::core;

namespace {

bytes crunch(std::string_view text)
{
    return to_bytes(tokenize_line(text));
}

} // namespace

TEST(KeywordTable, TokensSitAtTheirPlaces)
{
    struct {
        int token;
        std::string_view keyword;
    } cases[] = {{0x80, "END"},   {0x83, "DATA"},   {0x8E, "REM"},   {0x8F, "STOP"},
                 {0x9D, "TAB("},  {0xA0, "SPC("},   {0xA4, "+"},     {0xAD, "<"},
                 {0xBF, "STR$"},  {0xCE, "?"},      {0xCF, "BMOVE"}, {0xD8, "OUTPUT"},
                 {0xDF, "INKEY"}, {0xE4, "INK("},   {0xE9, "DEG"},   {0xEA, ""},
                 {0xEC, ""},      {0xED, "WINDOW"}, {0xEE, "REN"},   {0xEF, ""},
                 {0x7F, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(c.keyword, keyword_of(c.token)) << std::hex << c.token;
}

TEST(KeywordTable, EveryKeywordMatchesItsOwnToken)
{
    // Each keyword, looked up on its own, gives its own token unless an
    // earlier entry is a prefix of it; none is, in this table.
    for (int token = first_token; token < first_token + keyword_count; ++token) {
        std::string_view keyword = keyword_of(token);
        if (keyword.empty())
            continue;
        std::size_t position = 0;
        EXPECT_EQ(token, match_keyword(keyword, position)) << keyword;
        EXPECT_EQ(keyword.size(), position) << keyword;
    }
}

TEST(MatchKeyword, AgreesWithAPlainScanOfTheTable)
{
    // Texts glued from keyword fragments, so that prefixes and near misses of
    // every entry meet at every position.
    std::string text;
    unsigned seed = 12345;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::string_view keyword = keyword_of(first_token + static_cast<int>(seed >> 8) % 111);
        text += keyword.substr(0, 1 + (seed >> 20) % 7);
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        int expected = 0;
        for (int token = first_token; token < first_token + keyword_count && !expected; ++token) {
            std::string_view keyword = keyword_of(token);
            if (!keyword.empty() && text.compare(at, keyword.size(), keyword) == 0)
                expected = token;
        }
        std::size_t position = at;
        ASSERT_EQ(expected, match_keyword(text, position)) << "at " << at;
        ASSERT_EQ(at + keyword_of(expected).size(), position) << "at " << at;
    }
}

TEST(MatchKeyword, MovesOnlyOnAMatch)
{
    struct {
        std::string_view text;
        std::size_t start;
        int token;
        std::size_t end;
    } cases[] = {
        {"PRINT", 0, 0x96, 5}, {"XPRINT", 1, 0x96, 6}, {"XPRINT", 0, 0, 0},
        {"PRIN", 0, 0, 0},     {"print", 0, 0, 0},     {"", 0, 0, 0},
        {"INPUT", 0, 0x84, 5}, {"INP(", 0, 0xB3, 3},   {"CONTROL", 0, 0xDB, 7},
        {"CONT", 0, 0xDD, 4},  {"OUTPUT", 0, 0xD8, 6}, {"OUT", 0, 0xDE, 3},
        {"ATN", 0, 0xBC, 3},   {"AT", 0, 0xE7, 2},     {"ABC", 3, 0, 3},
        {"GOTO", 2, 0x9E, 4},
    };
    for (const auto& c : cases) {
        std::size_t position = c.start;
        EXPECT_EQ(c.token, match_keyword(c.text, position)) << c.text;
        EXPECT_EQ(c.end, position) << c.text;
    }
}

TEST(TokenizeLine, CrunchesStatements)
{
    struct {
        std::string_view text;
        const char* expected;
    } cases[] = {
        {"PRINT \"HI\"", "96 20 22 48 49 22"},
        {"A=B+1", "41 AC 42 A4 31"},
        {"FOR I=1 TO 9", "81 20 49 AC 31 20 9E 20 39"},
        {"IF A THEN 20", "8A 20 41 20 A1 20 32 30"},
        {"PRINT TAB(5);\"X\"", "96 20 9D 35 29 3B 22 58 22"},
        {"print", "70 72 69 6E 74"},
        {"Print", "50 72 69 6E 74"},
        {"a+b", "61 A4 62"},
        {"?A", "CE 41"},
        {"INP(1)", "B3 28 31 29"},
        {"INPUT A", "84 20 41"},
        {"ATN(X)", "BC 28 58 29"},
        {"AT 5", "E7 20 35"},
        {"FORM", "81 4D"},
        {"TOTAL", "9E 54 41 4C"},
        {"CONTROL CONT OUTPUT OUT", "DB 20 DD 20 D8 20 DE"},
        {"X=2^3*4/5-6<>7", "58 AC 32 A8 33 A6 34 A7 35 A5 36 AD AB 37"},
        {"  ", "20 20"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(c.expected), crunch(c.text)) << c.text;
}

TEST(TokenizeLine, StringsRemAndData)
{
    struct {
        std::string_view text;
        const char* expected;
    } cases[] = {
        {"DATA 1,2:PRINT", "83 20 31 2C 32 3A 96"},
        {"DATA \"A:B\",C:END", "83 20 22 41 3A 42 22 2C 43 3A 80"},
        {"REM PRINT:GOTO", "8E 20 50 52 49 4E 54 3A 47 4F 54 4F"},
        {"\"ABC\" PRINT", "22 41 42 43 22 20 96"},
        {"\"REM\"PRINT", "22 52 45 4D 22 96"},
        {"DATA A:REM X", "83 20 41 3A 8E 20 58"},
        {"REM \"A\" PRINT", "8E 20 22 41 22 20 50 52 49 4E 54"},
        {"DATA 1:\"X:PRINT", "83 20 31 3A 22 58 3A 50 52 49 4E 54"},
        {"PRINT \"A\":REM", "96 20 22 41 22 3A 8E"},
        {"DATA \"\",X:DATA Y:Z", "83 20 22 22 2C 58 3A 83 20 59 3A 5A"},
        {"DATAPRINT", "83 50 52 49 4E 54"},
        {"X:REM:DATA:PRINT", "58 3A 8E 3A 44 41 54 41 3A 50 52 49 4E 54"},
        // A quote opened after REM still toggles, but nothing turns REM off.
        {"REM \"", "8E 20 22"},
        {"\"unterminated PRINT", "22 75 6E 74 65 72 6D 69 6E 61 74 65 64 20 50 52 49 4E 54"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(c.expected), crunch(c.text)) << c.text;
}

TEST(TokenizeLine, CopiedBytesSteerLikeTokens)
{
    struct {
        std::string_view text;
        const char* expected;
    } cases[] = {
        {"\x8E"
         "A PRINT",
         "8E 41 20 50 52 49 4E 54"},
        {"\"\x8E\"PRINT", "22 8E 22 50 52 49 4E 54"},
        {"\x83 PRINT:PRINT", "83 20 50 52 49 4E 54 3A 96"},
        {"\"\x83\":PRINT", "22 83 22 3A 96"},
        {"\xEA\xEB\xEC\xFF", "EA EB EC FF"},
        {std::string_view("A\0B\x01\x1F", 5), "41 00 42 01 1F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(c.expected), crunch(c.text)) << c.text;
}

TEST(TokenizeLine, KeywordCutOffByTheEndIsCopied)
{
    // The view ends inside "PRINT": nothing past it may be read or matched.
    const std::string backing = "PRINT";
    EXPECT_EQ(to_bytes("PRIN"), crunch(std::string_view(backing).substr(0, 4)));
    EXPECT_EQ(hex("AC 52 45"), crunch(std::string_view("=REM").substr(0, 3)));
}
