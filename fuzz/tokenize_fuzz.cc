// tokenize_line never grows a text, and every output byte is either the
// source byte copied or the token of the first keyword in table order that
// starts right there; where no string, REM or DATA holds the lookup off, a
// copied byte starts no keyword.
#include "basic/tokenizer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace cassmak::core;

namespace {

// The plain linear lookup over the table, as the reference for the faster one.
int linear_match(std::string_view text, std::size_t position)
{
    for (int token = first_token; token < first_token + keyword_count; ++token) {
        std::string_view keyword = keyword_of(token);
        if (!keyword.empty() && text.substr(position, keyword.size()) == keyword)
            return token;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string out = tokenize_line(text);
    if (out.size() > text.size())
        std::abort();
    std::size_t position = 0;
    bool quoted = false, rem = false, in_data = false;
    for (char c : out) {
        auto byte = static_cast<unsigned char>(c);
        if (position >= text.size())
            std::abort();
        // Keywords begin with ASCII, so a high byte equal to the source byte
        // can only be a copy.
        if (text[position] == c) {
            if (!quoted && !rem && !in_data && linear_match(text, position) != 0)
                std::abort();
            ++position;
        } else {
            if (quoted || rem || in_data || linear_match(text, position) != byte)
                std::abort();
            position += keyword_of(byte).size();
        }
        if (byte == '"')
            quoted = !quoted;
        else if (byte == token_rem)
            rem = true;
        else if (byte == token_data)
            in_data = true;
        else if (byte == ':' && !quoted)
            in_data = false;
    }
    if (position != text.size())
        std::abort();
    return 0;
}
