// The pieces of the page's JSON answers: a field after the first one of an
// object, its value a number or a string.
#pragma once

#include "tape/json.h"

#include <cstddef>
#include <string>
#include <string_view>

inline void append_field(std::string& out, const char* key, std::size_t value)
{
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

inline void append_field(std::string& out, const char* key, std::string_view value)
{
    out += ",\"";
    out += key;
    out += "\":";
    core::append_json_string(out, value);
}
