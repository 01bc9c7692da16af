#include "basic/detokenizer.h"
#include "basic/program_format.h"
#include "io/files.h"
#include "programs/casstool/args.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/fields.h"
#include "tape/words.h"

#include <algorithm>
#include <cstdio>

using namespace cassmak::core;

namespace {

// Control bytes as ^X and ^?, bytes of 0x80 and above as M- and the byte
// below; tabs and line ends stay as they are.
std::string shown_on_terminal(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            out += "M-";
            byte = static_cast<unsigned char>(byte - 0x80);
        }
        if (byte == '\n' || byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
            out += static_cast<char>(byte);
        } else {
            out += '^';
            out += byte == 0x7F ? '?' : static_cast<char>(byte + 0x40);
        }
    }
    return out;
}

std::string basic_usage()
{
    return "Usage: casstool basic IMAGE [ENTRY] [-o FILE]\n"
           "Prints the BASIC program stored in entry ENTRY (default: the first file of\n"
           "type '>') as source text that cassmak -b turns into the same tape file again.\n"
           "An output named with -o is replaced; names made in a folder need --force.\n"
           "\n"
           "  -o FILE  write to FILE, replacing it; default (and -o -): standard output\n"
           "\n"
           "Exit status: 0 the program comes back identically, 1 the entry is damaged or\n"
           "a line will not come back identically (each named on standard error),\n"
           "2 refused or failed.\n";
}

struct basic_options {
    std::string image;
    std::optional<std::size_t> entry; // the first file of type '>' when not given
    std::string typed;                // the entry as typed
    output_choice output;
};

int parse_basic(const std::vector<std::string>& arguments, basic_options& options)
{
    std::vector<std::string> positional;
    const int status =
        walk_arguments(basic_command, arguments, positional,
                       [&](const std::string& option, argument_cursor& cursor) {
                           if (option != "-o")
                               return unknown_option;
                           return take_output_option("basic", cursor, options.output);
                       });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    if (positional.size() == 2) {
        std::size_t entry = 0;
        if (!core::parse_entry(positional[1], entry))
            return usage_error("basic", core::not_a_number("entry", positional[1]));
        options.entry = entry;
        options.typed = positional[1];
    }
    return tool_ok;
}

int run_basic(const basic_options& options)
{
    const std::string& image_path = options.image;
    const std::optional<std::size_t>& number = options.entry;
    const std::optional<std::string>& output = options.output.path;
    found_entry found;
    const auto wanted = [&](const tape_entry& e) {
        return number ? e.entry == *number
                      : e.kind == entry_kind::file && e.type == basic_file_type;
    };
    if (find_image_entry(image_path, wanted, found) != tool_ok)
        return tool_failed;
    if (!found.found)
        return number ? report_missing_entry(image_path, options.typed, found.count)
                      : report_tool(tool_failed,
                                    image_path + ": no BASIC program in it (no file of type '>')");
    const tape_entry& entry = found.entry;
    if (entry.kind != entry_kind::file)
        return report_tool(
            tool_failed,
            entry_label(image_path, entry) + " is " +
                (entry.kind == entry_kind::headless ? "a headless block" : "a truncated tail") +
                ", not a file");
    if (entry.data_checksum == data_checksum_state::absent)
        return refuse_missing_data(image_path, entry);
    if (entry.type != basic_file_type) {
        // Listed as a program, any other file is a screen of garbage.
        char type[8];
        std::snprintf(type, sizeof type,
                      file_type_valid(static_cast<char>(entry.type)) ? "'%c'" : "\\x%02X",
                      entry.type);
        return report_tool(tool_failed, entry_label(image_path, entry) + " (" +
                                            describe_entry(entry) + ") is of type " + type +
                                            ", not a BASIC program (type '>'); 'casstool "
                                            "extract' gives its bytes");
    }

    const basic_listing listing = list_basic_program(found.payload.data(), found.payload.size());
    // A hostile image must not steer the terminal (set its title, clear it):
    // there the bytes are shown as cat -v shows them. A file or a pipe gets
    // the text as cassmak -b needs it.
    const std::string text = !output && is_terminal(console_stream::output)
                                 ? shown_on_terminal(listing.text)
                                 : listing.text;
    const int status =
        write_bytes(output, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (status != tool_ok)
        return status;
    int result = tool_ok;
    if (entry_damaged(entry))
        result = report_tool(tool_damaged, damage_label(image_path, entry));
    for (const std::string& warning : listing.warnings)
        result = report_tool(tool_damaged, entry_label(image_path, entry) + ": " + warning);
    return result;
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command basic_command = {
    "basic",
    "basic IMAGE [ENTRY] [-o FILE]",
    "print a stored BASIC program as text",
    basic_usage,
    parse_and_run<basic_options, parse_basic, run_basic>,
    parse_only<basic_options, parse_basic>,
    {{"no image given"}, 1},
};
