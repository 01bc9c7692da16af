#include "io/files.h"
#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/table.h"

#include <optional>

using namespace cassmak::core;

namespace {

std::string split_usage()
{
    return "Usage: casstool split IMAGE [-d DIR] [--force] [-q] [--dry-run] [--no-sync]\n"
           "Writes each entry of the image byte for byte to an image of its own in DIR,\n"
           "named NN-NAME.kst from the entry number and the tape name (headless and\n"
           "truncated for the others); every byte outside A-Z a-z 0-9 - _ . becomes _.\n"
           "Joined again in order they give the image back. IMAGE '-' is standard input.\n"
           "An output named with -o is replaced; names made in a folder need --force.\n"
           "\n"
           "  -d DIR     the folder to write into, made if missing; default: the current\n"
           "             one\n"
           "  --force    replace existing files, and write a truncated tail too (exit\n"
           "             status 1)\n"
           "  -q         print nothing on success\n"
           "  --dry-run  print what would be written and each resulting list; write nothing\n"
           "  --no-sync  do not wait until the disk holds each new image\n"
           "\n"
           "Exit status: 0 written, 1 a truncated tail written with --force, 2 a usage\n"
           "error, an existing file, a refused entry or a failed read or write.\n";
}

struct split_options : change_switches {
    std::string image;
    std::optional<std::string> folder;
};

int parse_split(const std::vector<std::string>& arguments, split_options& options)
{
    std::vector<std::string> positional;
    const int status =
        walk_arguments(split_command, arguments, positional,
                       [&](const std::string& option, argument_cursor& cursor) {
                           if (take_change_switch(option, options, true))
                               return tool_ok;
                           if (option != "-d")
                               return unknown_option;
                           std::string value;
                           if (!cursor.take_value(value))
                               return usage_error("split", "option -d needs a folder");
                           if (options.folder)
                               return usage_error("split", "option -d given twice");
                           options.folder = value;
                           return tool_ok;
                       });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    return tool_ok;
}

// The refusal of an output that is there already, without --force; one that
// appears after it was looked at is refused alike when it is written.
const std::string output_taken = "exists; --force replaces it";

int run_split(const split_options& options)
{
    const std::string& path = options.image;
    tape_image image;
    if (load_entries(path, image) != tool_ok)
        return tool_failed;
    const split_plan plan = plan_split(image.data(), image.size, path, options.force);
    bool missing_folder = false;
    if (look_at_target_folder(options.folder, missing_folder) != tool_ok)
        return tool_failed;
    // Everything is checked before the first file is written.
    change_report report;
    report.notes = plan.notes;
    std::vector<std::string> outputs;
    for (const split_part& part : plan.parts) {
        const std::string output = path_in_folder(options.folder, part.file_name);
        // A link there would take the file out of the folder, forced or not.
        std::string reason;
        const path_kind kind = look_at_path(output, reason);
        if (kind == path_kind::link)
            return report_tool(tool_failed, output + ": is a symbolic link; it is not followed");
        if (!options.force && kind != path_kind::missing)
            return report_tool(tool_failed, std::string(output).append(": ").append(output_taken));
        report.lines += split_line(part, output);
        outputs.push_back(output);
    }
    if (plan.status == change_refused)
        return report_tool(tool_failed, plan.message);
    // Made only now, so that a refusal leaves no empty folder behind.
    if (missing_folder && !options.dry_run &&
        make_target_folder(*options.folder, sync_of(options)) != tool_ok)
        return tool_failed;
    bool streamed = false;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::uint8_t* begin = image.data() + plan.parts[i].offset;
        const std::vector<std::uint8_t> one(begin, begin + plan.parts[i].span);
        if (options.dry_run)
            report.lines += image_table(outputs[i], one.data(), one.size());
        else if ((options.force ? write_new_image(outputs[i], one, sync_of(options), streamed)
                                : write_new_file(outputs[i], one.data(), one.size(),
                                                 sync_of(options), output_taken)) != tool_ok)
            return tool_failed;
    }
    return finish_report(report, options.quiet && !options.dry_run,
                         plan.status == change_forced ? tool_damaged : tool_ok);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command split_command = {
    "split",
    "split IMAGE [-d DIR]",
    "write each entry to its own image",
    split_usage,
    parse_and_run<split_options, parse_split, run_split>,
    parse_only<split_options, parse_split>,
    {{"no image given"}},
};
