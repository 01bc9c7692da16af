#include "tape/json.h"

#include <gtest/gtest.h>

using namespace cassmak::core;

// casstool list --json has always written these bytes; the page reads the same.
TEST(Json, StringsKeepCasstoolsEscapes)
{
    const struct {
        std::string_view in;
        json_high_bytes high;
        std::string out;
    } cases[] = {
        {"a\"b\\c", json_high_bytes::latin1, "\"a\\\"b\\\\c\""},
        {"\b\t\n\v\f\r", json_high_bytes::latin1, "\"\\b\\t\\n\\u000b\\f\\r\""},
        {std::string_view("\0\x01\x1F\x20\x7F", 5), json_high_bytes::latin1,
         std::string("\"\\u0000\\u0001\\u001f \x7F\"")},
        {"\xE9\xFF", json_high_bytes::latin1, "\"\xC3\xA9\xC3\xBF\""},
        {"\xC3\xA9", json_high_bytes::latin1, "\"\xC3\x83\xC2\xA9\""},
        {"\xC3\xA9", json_high_bytes::utf8, "\"\xC3\xA9\""},
        {"\xF0\x9F\x98\x80", json_high_bytes::utf8, "\"\xF0\x9F\x98\x80\""},
        // Not UTF-8: a lone lead, an overlong form, a surrogate, a cut sequence,
        // each byte a lone surrogate U+DC80 + byte.
        {"\xC3", json_high_bytes::utf8, "\"\\udcc3\""},
        {"\xC0\xAF", json_high_bytes::utf8, "\"\\udcc0\\udcaf\""},
        {"\xED\xA0\x80", json_high_bytes::utf8, "\"\\udced\\udca0\\udc80\""},
        {"\xE2\x82", json_high_bytes::utf8, "\"\\udce2\\udc82\""},
        {"caf\xE9.kst", json_high_bytes::utf8, "\"caf\\udce9.kst\""},
        {"\xFF\xC3\xA9\x80", json_high_bytes::utf8, "\"\\udcff\xC3\xA9\\udc80\""},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        append_json_string(out, c.in, c.high);
        EXPECT_EQ(out, "x" + c.out) << c.out;
    }
}
