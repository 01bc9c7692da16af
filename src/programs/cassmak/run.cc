#include "programs/cassmak/run.h"

#include "basic/importer.h"
#include "programs/cassmak/files.h"
#include "programs/cassmak/options.h"
#include "programs/cassmak/status.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace cassmak::core;

namespace {

// Reads the input within its bounds and packs it into `image`; returns the
// status.
int encode(const conversion_settings& settings, std::vector<std::uint8_t>& payload,
           output_image& image)
{
    const std::string& input = *settings.input_path;
    const int low = input_size_min(settings.request.basic);
    const int high = input_size_max(settings.request.basic);
    std::string source;
    const int length = settings.request.basic ? open_basic_source(input, low, high, source)
                                      : load_input(input, payload.data(), low, high);
    if (length < 0)
        return length;
    const std::string_view bytes =
        settings.request.basic ? std::string_view(source)
                       : std::string_view(reinterpret_cast<const char*>(payload.data()),
                                          static_cast<std::size_t>(length));
    const basic_import imported = pack_input(pack_fields_of(settings.request), bytes, image);
    if (settings.request.basic && report_import(imported, input) < 0)
        return status_basic_too_large;
    return status_ok;
}

} // namespace

int report_import(const basic_import& result, const std::string& source_path)
{
    std::fputs("Importing BASIC program...\n", stdout);
    for (const import_line& line : result.lines) {
        std::printf("\rLine: %d", static_cast<int>(line.number));
        for (const std::string& warning : import_line_warnings(line))
            std::printf("\t%s\n", warning.c_str());
    }
    if (result.length == import_too_large)
        return report_status(status_basic_too_large, source_path, 0, result.limit);
    std::fputs("\rDone.\t\t\n", stdout);
    return result.length;
}

void print_banner()
{
    std::fputs("cassmak " CASSMAK_VERSION
               " - packs a binary file or a BASIC program into a tape image\n",
               stdout);
}

void print_usage()
{
    print_banner();
    std::printf("Usage: %s [options] infile.ext\n", "cassmak");
    std::fputs("\nCommon options:\n"
               "  -o outfile.ext  output file name\n"
               "  -append\t  append at the end of the output file\n"
               "  -a address\t  begin address [0]\n"
               "  -n number\t  file number [0]\n"
               "  -t char\t  file type [?]\n"
               "  -m name\t  file name max. 8 chars [infile name]\n"
               "  -hless\t  store as headless block\n"
               "  -b\t\t  import BASIC program from TXT file\n"
               "  -h\t\t  usage information\n"
               "  -v\t\t  version info\n"
               "\nAll numeric parameters must be nonnegative integers and can be in three forms:\n"
               "  decimal (e.g. 12345)\n"
               "  octal (e.g. 01234)\n"
               "  hexadecimal (e.g. 0x1234)\n\n",
               stdout);
}

int run(int argc, const char* const* argv)
{
    conversion_settings settings;
    std::vector<std::uint8_t> payload(payload_capacity);
    output_image image;

    int status = parse_arguments(argc, argv, settings);
    if (status == status_ok)
        status = complete_settings(settings);
    if (status == status_ok)
        status = encode(settings, payload, image);
    if (status == status_ok) {
        std::printf("Writing to the output file '%s'\n", settings.output_path->c_str());
        // Out before the output is opened: it may be this very stream
        // (`-o /dev/stdout`), and the line must not land in the image.
        std::fflush(stdout);
        status = save_output(*settings.output_path, image.data(), static_cast<int>(image.size()),
                             settings.append);
    }

    if (status == status_usage || status == status_version) {
        if (status == status_usage)
            print_usage();
        else
            print_banner();
        // The text is all these requests give: a lost one is a failure.
        const bool flushed = std::fflush(stdout) == 0;
        status =
            flushed && !std::ferror(stdout) ? status_ok : report_status(status_stdout_write, "");
    }
    return -status;
}
