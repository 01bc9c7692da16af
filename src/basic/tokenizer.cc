#include "basic/tokenizer.h"

#include <algorithm>
#include <array>

namespace cassmak::core {

namespace {

// Token 0x80 + index. 0xEA to 0xEC are unused and never match.
// clang-format off
constexpr std::array<std::string_view, keyword_count> keywords = {
    /* 0x80 */ "END",   "FOR",   "NEXT",  "DATA",  "INPUT", "DIM",    "READ",   "LET",
    /* 0x88 */ "GOTO",  "RUN",   "IF",    "RESTORE", "GOSUB", "RETURN", "REM",  "STOP",
    /* 0x90 */ "BIT",   "ON",    "NULL",  "WAIT",  "DEF",   "POKE",   "PRINT",  "ERR",
    /* 0x98 */ "LIST",  "CLEAR", "LLIST", "RAD",   "NEW",   "TAB(",   "TO",     "FNC",
    /* 0xA0 */ "SPC(",  "THEN",  "NOT",   "STEP",  "+",     "-",      "*",      "/",
    /* 0xA8 */ "^",     "AND",   "OR",    ">",     "=",     "<",      "SGN",    "INT",
    /* 0xB0 */ "ABS",   "USR",   "FRE",   "INP",   "POS",   "SQR",    "RND",    "LOG",
    /* 0xB8 */ "EXP",   "COS",   "SIN",   "TAN",   "ATN",   "PEEK",   "LEN",    "STR$",
    /* 0xC0 */ "VAL",   "ASC",   "CHR$",  "LEFT$", "RIGHT$", "MID$",  "SCALE",  "PLOT",
    /* 0xC8 */ "MOVE",  "BEEP",  "AXES",  "GCLEAR", "PAUSE", "DISP",  "?",      "BMOVE",
    /* 0xD0 */ "BPLOT", "LOAD",  "SAVE",  "DLOAD", "DSAVE", "LABEL",  "FILL",   "AUTO",
    /* 0xD8 */ "OUTPUT", "STATUS", "ENTER", "CONTROL", "CHECK", "CONT", "OUT",  "INKEY",
    /* 0xE0 */ "CODE",  "ROM",   "APOKE", "PEN",   "INK(",  "APEEK",  "ADR",    "AT",
    /* 0xE8 */ "HEX$",  "DEG",   "",      "",      "",      "WINDOW", "REN",
};
// clang-format on
static_assert(keywords[keyword_count - 1] == "REN", "a keyword is missing from the table");
static_assert(keywords[0xEA - first_token].empty() && keywords[0xEC - first_token].empty() &&
                  keywords[0xED - first_token] == "WINDOW",
              "the unused tokens must stay at 0xEA to 0xEC");

// The entries grouped by their first byte, each group in table order, so that
// a lookup tries only the keywords that can match and still takes the first
// match in table order.
struct first_byte_index {
    std::array<int, 257> start{};
    std::array<int, keyword_count> entries{};
};

constexpr first_byte_index build_index()
{
    first_byte_index index;
    std::array<int, 256> count{};
    for (std::string_view keyword : keywords)
        if (!keyword.empty())
            ++count[static_cast<unsigned char>(keyword[0])];
    for (std::size_t byte = 0; byte < 256; ++byte)
        index.start[byte + 1] = index.start[byte] + count[byte];
    std::array<int, 256> next{};
    for (std::size_t byte = 0; byte < 256; ++byte)
        next[byte] = index.start[byte];
    for (std::size_t i = 0; i < keywords.size(); ++i)
        if (!keywords[i].empty())
            index.entries[static_cast<std::size_t>(
                next[static_cast<unsigned char>(keywords[i][0])]++)] = static_cast<int>(i);
    return index;
}

constexpr first_byte_index keyword_index = build_index();

} // namespace

std::string_view keyword_of(int token)
{
    int index = token - first_token;
    if (index < 0 || index >= keyword_count)
        return {};
    return keywords[static_cast<std::size_t>(index)];
}

std::size_t longest_keyword()
{
    constexpr std::size_t longest = [] {
        std::size_t length = 0;
        for (std::string_view keyword : keywords)
            length = std::max(length, keyword.size());
        return length;
    }();
    return longest;
}

int match_keyword(std::string_view text, std::size_t& position)
{
    if (position >= text.size())
        return 0;
    std::string_view rest = text.substr(position);
    const auto first = static_cast<unsigned char>(rest[0]);
    for (int k = keyword_index.start[first]; k < keyword_index.start[first + 1]; ++k) {
        const int entry = keyword_index.entries[static_cast<std::size_t>(k)];
        std::string_view keyword = keywords[static_cast<std::size_t>(entry)];
        if (rest.substr(0, keyword.size()) == keyword) {
            position += keyword.size();
            return first_token + entry;
        }
    }
    return 0;
}

void follow_byte(lookup_flags& flags, unsigned char byte)
{
    if (byte == '"' && !flags.in_string)
        flags.in_string = true;
    else if (byte == '"')
        flags.in_string = false;
    else if (byte == token_rem && !flags.after_rem)
        flags.after_rem = true;
    else if (byte == token_data && !flags.in_data)
        flags.in_data = true;
    else if (byte == ':' && flags.in_data && !flags.in_string)
        flags.in_data = false;
}

std::string tokenize_line(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    lookup_flags flags;
    std::size_t position = 0;
    while (position < text.size()) {
        int token = 0;
        if (flags.looking())
            token = match_keyword(text, position);
        auto byte = static_cast<unsigned char>(token != 0 ? token : text[position++]);
        out.push_back(static_cast<char>(byte));
        follow_byte(flags, byte);
    }
    return out;
}

} // namespace cassmak::core
