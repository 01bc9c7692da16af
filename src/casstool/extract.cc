#include "casstool/args.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"
#include "io/files.h"

namespace {

std::string extract_usage()
{
    return "Usage: casstool extract IMAGE ENTRY [-o FILE] [--force]\n"
           "Writes the payload of entry ENTRY: a file's bytes without their checksum, or a\n"
           "headless block's bytes.\n"
           "\n"
           "  -o FILE  write to FILE, replacing it; default: standard output, unless that is a\n"
           "           terminal\n"
           "  --force  write a damaged entry too (exit status 1); for a truncated tail, all its\n"
           "           bytes\n"
           "\n"
           "Exit status: 0 written, 1 a damaged entry written with --force, 2 refused or failed.\n";
}

struct extract_options {
    std::string image;
    std::size_t entry = 0;
    std::optional<std::string> output;
    bool force = false;
};

int parse_extract(const std::vector<std::string>& arguments, extract_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(
        "extract", arguments, positional, [&](const std::string& option, argument_cursor& cursor) {
            if (option == "--force") {
                options.force = true;
                return tool_ok;
            }
            if (option != "-o")
                return unknown_option;
            std::string value;
            if (!cursor.take_value(value))
                return usage_error("extract", "option -o needs a file name");
            if (options.output)
                return usage_error("extract", "option -o given twice");
            options.output = value;
            return tool_ok;
        });
    if (status != tool_ok)
        return status;
    if (positional.empty())
        return usage_error("extract", "no image given");
    if (positional.size() < 2)
        return usage_error("extract", "no entry given");
    if (positional.size() > 2)
        return usage_error("extract", "unexpected argument '" + positional[2] + "'");
    options.image = positional[0];
    if (!parse_entry(positional[1], options.entry))
        return usage_error("extract", "entry '" + positional[1] + "' is not a number");
    return tool_ok;
}

int run_extract(const extract_options& options)
{
    const std::string& image_path = options.image;
    const std::optional<std::string>& output = options.output;
    loaded_image image;
    if (load_entries(image_path, image) != tool_ok)
        return tool_failed;
    const tape_entry* entry = find_entry(image_path, image, options.entry);
    if (!entry)
        return tool_failed;
    if (entry->kind == entry_kind::file && entry->data_checksum == data_checksum_state::absent)
        return refuse_missing_data(image_path, *entry);
    const bool damaged = entry_damaged(*entry);
    if (damaged && !options.force)
        return report_tool(tool_failed,
                           damage_label(image_path, *entry) + "; --force extracts it anyway");
    if (!output && is_terminal(console_stream::output))
        return report_tool(tool_failed, "standard output is a terminal; give -o FILE or "
                                        "redirect it");
    const int status =
        write_bytes(output, image.bytes.data() + entry->payload_offset, entry->payload_size);
    if (status != tool_ok || !damaged)
        return status;
    return report_tool(tool_damaged, damage_label(image_path, *entry) + "; written as it is");
}

} // namespace

extern const tool_command extract_command; // a row of the table in commands.cc
const tool_command extract_command = {
    "extract",
    "extract IMAGE ENTRY [-o FILE] [--force]",
    "write the bytes of a file or block",
    extract_usage,
    parse_and_run<extract_options, parse_extract, run_extract>,
    parse_only<extract_options, parse_extract>,
};
