// The module's exports: plain C functions over memory the script allocates,
// each answer a NUL-terminated JSON text that stays valid until the next call.
#include "page_api.h"

#include <emscripten/emscripten.h>

#include <string>

namespace {

std::string answer;

const char* give(std::string text)
{
    answer = std::move(text);
    return answer.c_str();
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* page_read_tape(const std::uint8_t* image, std::size_t size)
{
    return give(tape_entries_json(image, size));
}

EMSCRIPTEN_KEEPALIVE const char* page_check_source(const char* source, std::size_t size)
{
    return give(source_warnings_json(std::string_view(source, size)));
}

} // extern "C"
