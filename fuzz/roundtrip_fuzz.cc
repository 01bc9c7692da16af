// Any source cassmak reads, imported, listed and imported again, gives the
// same program image byte for byte; the listing draws no warning and is
// itself a source cassmak reads.
#include "basic/detokenizer.h"
#include "basic/importer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace cassmak::core;

namespace {

// The image of `source`, or an empty one when it is too large to import.
std::vector<std::uint8_t> import(std::string_view source)
{
    std::vector<std::uint8_t> image(65536);
    if (source.empty())
        return {0, 0};
    const int length = import_basic(image.data(), static_cast<int>(image.size()), source).length;
    image.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > basic_source_max)
        return 0;
    const std::vector<std::uint8_t> image =
        import(std::string_view(reinterpret_cast<const char*>(data), size));
    if (image.empty())
        return 0;
    const basic_listing listing = list_basic_program(image.data(), image.size());
    if (!listing.warnings.empty()) {
        for (const std::string& warning : listing.warnings)
            std::fprintf(stderr, "warning: %s\n", warning.c_str());
        std::abort();
    }
    if (listing.text.size() < basic_source_min || listing.text.size() > basic_source_max)
        std::abort();
    const std::vector<std::uint8_t> again = import(listing.text);
    if (again != image) {
        std::fprintf(stderr, "listing:\n%s\n", listing.text.c_str());
        std::abort();
    }
    return 0;
}
