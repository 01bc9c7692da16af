// The program's arguments on Windows: the wide command line as UTF-8, with
// the patterns a Windows shell leaves alone expanded, as a POSIX shell does
// before a program starts.
#include "io/files.h"
#include "io/text_win32.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace cassmak::core {

namespace {

using win32_text::narrow;
using win32_text::wide;

// For each word of `line` as the C runtime splits it, whether any of it was
// in quotes: a quoted pattern is meant as typed. Empty when the split does
// not come out as `count` words, so that nothing is expanded on a doubt.
std::vector<bool> quoted_words(const wchar_t* line, int count)
{
    std::vector<bool> quoted;
    const wchar_t* at = line;
    // The program's own name ends at the next quote or blank, with no escapes.
    if (*at == L'"') {
        at = std::wcschr(at + 1, L'"');
        at = at ? at + 1 : line + std::wcslen(line);
    }
    while (*at && *at != L' ' && *at != L'\t')
        ++at;
    quoted.push_back(false);
    for (;;) {
        while (*at == L' ' || *at == L'\t')
            ++at;
        if (!*at)
            break;
        bool in_quotes = false;
        bool any_quote = false;
        std::size_t backslashes = 0;
        for (; *at && (in_quotes || (*at != L' ' && *at != L'\t')); ++at) {
            if (*at == L'\\') {
                ++backslashes;
                continue;
            }
            if (*at == L'"' && backslashes % 2 == 0) {
                any_quote = true;
                if (in_quotes && at[1] == L'"')
                    ++at; // "" within quotes is one quote character
                else
                    in_quotes = !in_quotes;
            }
            backslashes = 0;
        }
        quoted.push_back(any_quote);
    }
    if (static_cast<int>(quoted.size()) != count)
        quoted.clear();
    return quoted;
}

wchar_t folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether `name` matches `pattern` (`*` any run, `?` one character, letters
// of either case alike), as Windows means it but without the short names
// that make `*.kst` match `long.kstx` too.
bool matches(const wchar_t* pattern, const wchar_t* name)
{
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == L'?' || (*pattern && folded(*pattern) == folded(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*')
        ++pattern;
    return !*pattern;
}

std::string sort_key(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The order of a listing: letters of either case alike, then as bytes.
bool before(const std::string& a, const std::string& b)
{
    const std::string x = sort_key(a);
    const std::string y = sort_key(b);
    return x != y ? x < y : a < b;
}

// The names `word` matches in its folder, sorted as a listing is, each with
// the folder as typed before it; empty when it matches none (the word then
// stays as typed, and the command says it cannot open it). Only the last
// part of a path may hold a pattern.
std::vector<std::string> expanded(const std::string& word)
{
    const std::size_t cut = word.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? std::string() : word.substr(0, cut + 1);
    const std::wstring pattern = wide(word.substr(folder.size()));
    if (folder.find_first_of("*?") != std::string::npos || pattern.empty())
        return {};
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(wide(word).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0 ||
            !matches(pattern.c_str(), found.cFileName))
            continue;
        names.push_back(folder + narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end(), before);
    return names;
}

} // namespace

void take_program_arguments(int& argc, char**& argv)
{
    const wchar_t* line = GetCommandLineW();
    int count = 0;
    wchar_t** words = CommandLineToArgvW(line, &count);
    if (!words)
        return;
    const std::vector<bool> quoted = quoted_words(line, count);
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.clear();
    for (int i = 0; i < count; ++i) {
        std::string text = narrow(words[i]);
        const bool pattern = i > 0 && !quoted.empty() && !quoted[static_cast<std::size_t>(i)] &&
                             text.find_first_of("*?") != std::string::npos;
        std::vector<std::string> names;
        if (pattern)
            names = expanded(text);
        if (names.empty())
            texts.push_back(std::move(text));
        else
            texts.insert(texts.end(), names.begin(), names.end());
    }
    LocalFree(words);
    pointers.clear();
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = static_cast<int>(texts.size());
    argv = pointers.data();
}

char path_separator()
{
    return '\\';
}

bool is_path_separator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace cassmak::core
