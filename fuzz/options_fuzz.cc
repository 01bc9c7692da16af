// The option walk over an argument vector split from the input at NUL bytes
// must end with one status of the table and leave consistent settings.
#include "programs/cassmak/options.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace cassmak::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words(1, "cassmak");
    words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    conversion_settings settings;
    int status = parse_arguments(static_cast<int>(argv.size()), argv.data(), settings);
    if (status == 0)
        status = complete_settings(settings);
    bool known = status == 0 || status == -1 || status == -2 || status == -3 ||
                 (status <= -12 && status >= -18);
    if (!known)
        std::abort();
    if (status == 0) {
        if (!settings.input_path || !settings.output_path || settings.request.name.size() != 8 ||
            settings.request.address < 0 || settings.request.address > 0xFFFF || settings.request.file_number < 0 ||
            settings.request.file_number > 99 || settings.request.file_type <= 0x20 || settings.request.file_type == 0x7F)
            std::abort();
    }
    return 0;
}
