#include "tape/words.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace cassmak::core {

std::string entries_are(std::size_t count)
{
    if (count == 0)
        return "; the image is empty";
    return count == 1 ? "; its only entry is 1" : "; its entries are 1 to " + std::to_string(count);
}

bool parse_entry(const std::string& text, std::size_t& entry)
{
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    entry = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::size_t>(c - '0');
        entry = entry > (most - digit) / 10 ? most : entry * 10 + digit;
    }
    return true;
}

std::string not_a_number(const char* what, const std::string& typed)
{
    return std::string(what) + " '" + typed + "' is not a number";
}

std::string grouped(std::size_t value)
{
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string describe_entry(const tape_entry& entry, std::size_t count)
{
    std::string text;
    if (entry.kind == entry_kind::file) {
        std::size_t end = entry.name.size();
        while (end > 0 && entry.name[end - 1] == ' ')
            --end;
        // A stored name is shown, never obeyed: no byte of it steers a terminal.
        text = end == 0 ? "file (blank name)" : "file ";
        for (std::size_t i = 0; i < end; ++i) {
            const std::uint8_t byte = entry.name[i];
            if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
                text += static_cast<char>(byte);
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", byte);
                text += byte == '\\' ? "\\\\" : escape;
            }
        }
    } else {
        text = entry.kind == entry_kind::headless ? "headless block" : "truncated tail";
    }
    return text + ", " + grouped(count) + (count == 1 ? " byte" : " bytes");
}

std::string entry_label(const std::string& path, const tape_entry& entry)
{
    return path + ": entry " + std::to_string(entry.entry);
}

std::string damage_label(const std::string& path, const tape_entry& entry)
{
    return entry_label(path, entry) + " is damaged (" + entry.problem + ")";
}

std::string missing_entry_message(const std::string& path, const std::string& typed,
                                  std::size_t count)
{
    return path + ": no entry " + typed + entries_are(count);
}

} // namespace cassmak::core
