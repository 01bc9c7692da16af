#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>


bytes hex(std::string_view text)
{
    bytes out;
    std::istringstream words{std::string(text)};
    std::string word;
    while (words >> word) {
        std::size_t star = word.find('*');
        int times = star == std::string::npos ? 1 : std::stoi(word.substr(star + 1));
        auto value = static_cast<std::uint8_t>(std::stoul(word.substr(0, star), nullptr, 16));
        out.insert(out.end(), static_cast<std::size_t>(times), value);
    }
    return out;
}

bytes to_bytes(std::string_view text)
{
    return bytes(text.begin(), text.end());
}

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes header_block(std::string_view head_and_checksum)
{
    return concat({hex("3F 00 FF*16 00*16 55*16"), hex(head_and_checksum)});
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string scratch_dir::path(std::string_view name) const
{
    return (root_ / name).string();
}

void write_file(const std::string& path, const bytes& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(file.good()) << path;
}

void write_file(const std::string& path, std::string_view content)
{
    write_file(path, to_bytes(content));
}

bytes read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string writing(const std::string& path)
{
    return "Writing to the output file '" + path + "'\n";
}

namespace {

std::string hex_around(const bytes& data, std::size_t at)
{
    std::string out;
    char cell[4];
    std::size_t from = at >= 8 ? at - 8 : 0;
    for (std::size_t i = from; i < data.size() && i < at + 8; ++i) {
        std::snprintf(cell, sizeof cell, i == at ? "[%02X" : " %02X", data[i]);
        out += cell;
        if (i == at)
            out += ']';
    }
    return out;
}

} // namespace

testing::AssertionResult same_bytes(const bytes& expected, const bytes& actual)
{
    if (expected == actual)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    return testing::AssertionFailure()
           << "sizes " << expected.size() << " and " << actual.size() << ", first difference at "
           << at << "\n  expected:" << hex_around(expected, at)
           << "\n  actual:  " << hex_around(actual, at);
}

const char* const cassmak_path = CASSMAK_EXE;
const char* const casstool_path = CASSTOOL_EXE;

const char* small_address_space_missing()
{
    return CASSMAK_TOOLS_SANITIZED ? "AddressSanitizer reserves more address space than the limit"
                                   : nullptr;
}

run_result run_cassmak(const std::vector<std::string>& args, const run_options& options)
{
    return run_exe(CASSMAK_EXE, args, options);
}

run_result run_casstool(const std::vector<std::string>& args, const run_options& options)
{
    return run_exe(CASSTOOL_EXE, args, options);
}
