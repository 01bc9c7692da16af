// The keyword table that users read is the one in cassmak(1), under BASIC
// KEYWORDS: it is the only written copy, so it is held to the tokenizer's
// own table here, keyword by keyword and token by token, both ways.
#include "basic/tokenizer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

using namespace cassmak::core;

namespace {

std::string keyword_section()
{
    std::ifstream page(CASSMAK_MAN_PAGE);
    std::stringstream text;
    text << page.rdbuf();
    const std::string all = text.str();
    const std::size_t start = all.find(".SH BASIC KEYWORDS\n");
    const std::size_t end = all.find("\n.SH ", start + 1);
    if (start == std::string::npos || end == std::string::npos)
        return {};
    return all.substr(start, end - start);
}

// The rows of the page: `.B 0xXX\(en0xYY` and then the keywords of those
// tokens in order, "(unused)" for a token no keyword gives.
std::map<int, std::string> page_tokens(const std::string& section)
{
    std::map<int, std::string> tokens;
    std::istringstream lines(section);
    std::string line;
    const std::regex row(R"(\.B 0x([0-9A-F]{2})\\\(en0x([0-9A-F]{2}))");
    int next = -1;
    int last = -1;
    const auto row_done = [&] {
        EXPECT_TRUE(next == -1 || next == last + 1)
            << "the row of 0x" << std::hex << last << " has not one keyword a token";
        next = last = -1;
    };
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_match(line, match, row)) {
            row_done();
            next = std::stoi(match[1], nullptr, 16);
            last = std::stoi(match[2], nullptr, 16);
            continue;
        }
        if (line.empty() || line[0] == '.') {
            row_done();
            continue;
        }
        if (next == -1)
            continue;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            for (std::size_t at = word.find("\\-"); at != std::string::npos; at = word.find("\\-"))
                word.erase(at, 1);
            EXPECT_LE(next, last) << "more keywords than tokens in the row of " << word;
            EXPECT_TRUE(tokens.emplace(next++, word == "(unused)" ? "" : word).second) << word;
        }
    }
    return tokens;
}

TEST(KeywordTable, TheManPageHasTheTokenizersTable)
{
    const std::string section = keyword_section();
    ASSERT_FALSE(section.empty()) << CASSMAK_MAN_PAGE << " has no BASIC KEYWORDS section";
    const std::map<int, std::string> tokens = page_tokens(section);

    // Every token of the tokenizer on the page, with its keyword or unused.
    int keywords = 0;
    std::string unused;
    for (int token = first_token; token < first_token + keyword_count; ++token) {
        const std::string keyword(keyword_of(token));
        const auto found = tokens.find(token);
        ASSERT_NE(found, tokens.end()) << "the page has no token " << std::hex << token;
        EXPECT_EQ(found->second, keyword) << "token 0x" << std::hex << std::uppercase << token;
        if (keyword.empty())
            unused += (unused.empty() ? "" : ",") + std::to_string(token);
        else
            ++keywords;
    }
    // And nothing on the page that the tokenizer does not have.
    for (const auto& [token, keyword] : tokens) {
        EXPECT_GE(token, first_token) << keyword;
        EXPECT_LT(token, first_token + keyword_count) << keyword;
    }
    EXPECT_TRUE(keyword_of(first_token + keyword_count).empty());

    // The counts and the unused tokens that the text around the table states.
    std::smatch match;
    ASSERT_TRUE(std::regex_search(section, match, std::regex(R"(each of these (\d+) keywords)")));
    EXPECT_EQ(std::stoi(match[1]), keywords);
    ASSERT_TRUE(std::regex_search(
        section, match,
        std::regex(R"(The table has (\d+) token slots, 0x([0-9A-F]+) to 0x([0-9A-F]+))")));
    EXPECT_EQ(std::stoi(match[1]), keyword_count);
    EXPECT_EQ(std::stoi(match[2], nullptr, 16), first_token);
    EXPECT_EQ(std::stoi(match[3], nullptr, 16), first_token + keyword_count - 1);
    ASSERT_TRUE(std::regex_search(
        section, match,
        std::regex(R"(The tokens 0x([0-9A-F]+), 0x([0-9A-F]+) and 0x([0-9A-F]+) are unused)")));
    EXPECT_EQ(std::to_string(std::stoi(match[1], nullptr, 16)) + "," +
                  std::to_string(std::stoi(match[2], nullptr, 16)) + "," +
                  std::to_string(std::stoi(match[3], nullptr, 16)),
              unused);
}

} // namespace
