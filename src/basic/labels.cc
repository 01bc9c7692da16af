#include "basic/labels.h"

namespace cassmak::core {

bool is_label_start(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool is_label_char(char c)
{
    return is_label_start(c) || (c >= '0' && c <= '9');
}

std::size_t label_length(std::string_view text, std::size_t at)
{
    if (at + 1 >= text.size() || text[at] != label_mark || !is_label_start(text[at + 1]))
        return 0;
    std::size_t end = at + 2;
    while (end < text.size() && is_label_char(text[end]))
        ++end;
    return end - at;
}

std::size_t label_definition_length(std::string_view line)
{
    const std::size_t name = label_length(line, 0);
    if (name == 0 || name >= line.size() || line[name] != label_definition_end)
        return 0;
    return name + 1;
}

} // namespace cassmak::core
