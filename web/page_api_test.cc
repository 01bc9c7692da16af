#include "page_api.h"

#include "basic/checker.h"
#include "tape/blocks.h"
#include "tape/reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

TEST(PageApi, TapeEntriesGiveTheListColumnsAndWhereThePayloadLies)
{
    output_image image;
    const std::uint8_t payload[] = {0xAB};
    put_tape_file(image, payload, 1, '?', 3, "a\xE9", 0x1234);
    put_headless_block(image, payload, 1);
    image.push_back(0x05); // a truncated tail
    EXPECT_EQ(tape_entries_json(image.data(), image.size()),
              "{\"entries\":[{\"entry\":1,\"offset\":0,\"kind\":\"file\",\"length\":1,\"number\":3,"
              "\"type\":\"?\",\"address\":4660,\"name\":\"A\xC3\xA9      \",\"checksums\":\"good\","
              "\"problem\":\"\",\"payload_offset\":67,\"payload_size\":1},"
              "{\"entry\":2,\"offset\":69,\"kind\":\"headless\",\"length\":1,\"checksums\":\"-\","
              "\"problem\":\"\",\"payload_offset\":71,\"payload_size\":1},"
              "{\"entry\":3,\"offset\":72,\"kind\":\"truncated\",\"length\":1,\"checksums\":\"-\","
              "\"problem\":\"" +
                  read_tape_image(image.data(), image.size())[2].problem +
                  "\",\"payload_offset\":72,\"payload_size\":1}]}");
}

TEST(PageApi, JsonStringsEscapeQuotesAndControlBytes)
{
    std::string out;
    append_json_string(out, std::string_view("\"\\\n\x7F", 4));
    EXPECT_EQ(out, "\"\\\"\\\\\\u000a\\u007f\"");
}

// The page shows the README's fixes; the two must not drift apart.
TEST(PageApi, EveryKindHasTheReadmesFix)
{
    std::ifstream readme(CASSMAK_README);
    ASSERT_TRUE(readme) << CASSMAK_README;
    std::stringstream text;
    text << readme.rdbuf();
    for (const std::string_view kind : check_kinds()) {
        const std::string_view fix = fix_of(kind);
        ASSERT_FALSE(fix.empty()) << kind;
        const std::string row_end = " | " + std::string(fix) + " |\n";
        const std::string row_start = "| `" + std::string(kind) + "` |";
        const std::size_t at = text.str().find(row_start);
        ASSERT_NE(at, std::string::npos) << kind;
        EXPECT_EQ(text.str().find(row_end, at), text.str().find('\n', at) + 1 - row_end.size())
            << kind;
    }
}

TEST(PageApi, SourceWarningsCarryPositionKindAndFix)
{
    const std::string json = source_warnings_json("10 print 1\n");
    EXPECT_NE(json.find("\"line\":1,\"column\":4,\"kind\":\"lower-case-keyword\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"fix\":\"write keywords in upper case\""), std::string::npos) << json;
    EXPECT_EQ(source_warnings_json("10 PRINT 1\n"), "{\"warnings\":[]}");
}
