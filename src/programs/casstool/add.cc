#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"

#include "basic/importer.h"
#include "basic/pack.h"
#include "basic/program_format.h"
#include "basic/renumber.h"

#include <cstdint>
#include <string_view>

using namespace cassmak::core;

namespace {

std::string add_usage()
{
    return std::string(
               "Usage: casstool add IMAGE FILE... [--name NAME] [--number N] [--type C]\n"
               "                    [--address A] [--basic | --headless] [--force] [-q]\n"
               "                    [--dry-run] [--no-sync]\n"
               "Stores each FILE at the end of IMAGE as cassmak stores it: as a file with a\n"
               "header named after its own file name, or as a headless block. IMAGE is made\n"
               "when it is missing and replaced whole under the lock that cassmak -append\n"
               "takes. FILE '-' is standard input, named after IMAGE.\n"
               "\n"
               "  --name NAME     tape name, at most 8 characters, stored upper case and padded\n"
               "  --number N      file number, 0 to 99; default 0\n"
               "  --type C        file type, one character from 0x21 to 0x7E; default '") +
           default_file_type +
           "'\n"
           "  --address A     start address, 0 to 65535; default 0\n"
           "  --basic         FILE is a BASIC program as text, stored as the machine holds\n"
           "                  it (type '" +
           basic_file_type +
           "', its own address; no --type or --address);\n"
           "                  labels and unnumbered lines numbered first as renum does\n"
           "  --headless      store each FILE as a block with no header and no field\n"
           "  --force         add after a truncated tail or a file without its data block,\n"
           "                  which then reads the new entries as its part (exit status 1)\n"
           "  -q              print nothing on success\n"
           "  --dry-run       print the additions and the resulting list; write nothing\n"
           "  --no-sync       do not wait until the disk holds the new image\n"
           "\n"
           "Numbers are decimal, 0x hexadecimal or 0 octal, with nothing after them.\n"
           "Exit status: 0 added, 1 added with --force after damage, 2 a usage error, an\n"
           "unreadable or unfit FILE, a refused change or a failed read or write.\n";
}

struct add_options : change_switches {
    std::string image;
    std::vector<std::string> files;
    header_change fields;
    bool basic = false;
    bool headless = false;
};

int take_add_option(const std::string& option, argument_cursor& cursor, add_options& options)
{
    if (take_change_switch(option, options, true))
        return tool_ok;
    if (option == "--basic" || option == "--headless") {
        (option == "--basic" ? options.basic : options.headless) = true;
        return tool_ok;
    }
    return take_header_option("add", option, cursor, options.fields);
}

int parse_add(const std::vector<std::string>& arguments, add_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments(add_command, arguments, positional,
                                      [&](const std::string& option, argument_cursor& cursor) {
                                          return take_add_option(option, cursor, options);
                                      });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    options.files.assign(positional.begin() + 1, positional.end());
    const header_change& fields = options.fields;
    if (options.headless && (options.basic || fields.name || fields.number || fields.type ||
                             fields.address))
        return usage_error("add", "--headless takes no --basic, --name, --number, --type or "
                                  "--address");
    if (options.basic && (fields.type || fields.address))
        return usage_error("add", "--basic takes no --type or --address");
    return tool_ok;
}

// The request cassmak would make of `file` with the fields given.
pack_request request_for(const add_options& options, const std::string& file)
{
    pack_request request;
    request.headless = options.headless;
    request.basic = options.basic;
    const header_change& fields = options.fields;
    if (fields.name)
        request.name.assign(fields.name->begin(), fields.name->end());
    if (fields.number)
        request.file_number = *fields.number;
    if (fields.type)
        request.file_type = static_cast<char>(*fields.type);
    if (fields.address)
        request.address = *fields.address;
    complete_pack_request(request, file == "-" ? options.image : file);
    return request;
}

// Reads `file` and appends it to `added` as cassmak packs it; reports why it
// cannot be.
int pack_file(const add_options& options, const std::string& file,
              std::vector<std::uint8_t>& buffer, output_image& added)
{
    const int low = input_size_min(options.basic);
    const int high = input_size_max(options.basic);
    const std::string too_large =
        "more than " + std::to_string(high) +
        (options.basic ? " bytes, longer than a BASIC source can be"
                       : " bytes, larger than a stored file can be");
    std::size_t size = 0;
    if (load_file(file, static_cast<std::size_t>(high), too_large, buffer, size) != tool_ok)
        return tool_failed;
    if (size < static_cast<std::size_t>(low))
        return report_tool(tool_failed, file + ": " + std::to_string(size) +
                                            (size == 1 ? " byte" : " bytes") + ", fewer than " +
                                            std::to_string(low) + " to store");
    std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), size);
    // A source with labels or unnumbered lines is numbered as renum numbers
    // it; any other comes back as it is.
    source_renumber numbered;
    if (options.basic) {
        numbered = number_source(bytes, renumber_settings{});
        print_source_problems(file, numbered.errors, "error");
        if (!numbered.message.empty())
            return report_tool(tool_failed, file + ": " + numbered.message + "; nothing added");
        print_source_problems(file, numbered.warnings, "warning");
        if (numbered.text.size() > static_cast<std::size_t>(high))
            return report_tool(tool_failed, file + ": " + too_large + " once numbered");
        bytes = numbered.text;
    }
    const basic_import imported =
        pack_input(pack_fields_of(request_for(options, file)), bytes, added);
    if (!options.basic)
        return tool_ok;
    for (const import_line& line : imported.lines)
        for (const std::string& warning : import_line_warnings(line)) {
            std::string note = file;
            note += ": line " + std::to_string(line.number) + ": ";
            note += warning;
            report_tool(tool_ok, note);
        }
    if (imported.length == import_too_large)
        return report_tool(tool_failed, file + ": the program takes more than " +
                                            std::to_string(imported.limit) +
                                            " bytes of memory; nothing added");
    return tool_ok;
}

int run_add(const add_options& options)
{
    output_image added;
    std::vector<std::uint8_t> buffer;
    for (const std::string& file : options.files)
        if (pack_file(options, file, buffer, added) != tool_ok)
            return tool_failed;
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_add(old, options.image, added.data(), added.size(), options.files,
                        options.force, lines, plan);
    };
    return run_change({"add", options.image, true, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command add_command = {
    "add",
    "add IMAGE FILE...",
    "store files at the end of an image",
    add_usage,
    parse_and_run<add_options, parse_add, run_add>,
    parse_only<add_options, parse_add>,
    {{"no image given", "no file given"}, 0, true},
};
