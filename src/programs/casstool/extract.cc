#include "io/files.h"
#include "programs/casstool/args.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/edit.h"
#include "tape/words.h"

#include <cstdio>

using namespace cassmak::core;

namespace {

std::string extract_usage()
{
    return "Usage: casstool extract IMAGE ENTRY [-o FILE] [--force] [--no-sync]\n"
           "       casstool extract IMAGE all [-d DIR] [--force] [-q] [--no-sync]\n"
           "Writes the payload of entry ENTRY: a file's bytes without their checksum, or a\n"
           "headless block's bytes. With 'all', every payload goes to a file of its own in\n"
           "DIR, named NN-NAME.bin from the entry number and the tape name.\n"
           "An output named with -o is replaced; names made in a folder need --force.\n"
           "\n"
           "  -o FILE  write to FILE, replacing it; default (and -o -): standard output,\n"
           "           unless that is a terminal\n"
           "  -d DIR   with 'all': the folder to write into, made if missing (default:\n"
           "           the current one); an existing file there is not overwritten\n"
           "  --force  write a damaged entry too (exit status 1); for a truncated tail,\n"
           "           all its bytes; with 'all', overwrite existing files\n"
           "  -q       with 'all': do not print a line for each file written\n"
           "  --no-sync\n"
           "           do not wait until the disk holds what is written\n"
           "\n"
           "Exit status: 0 written, 1 a damaged entry written with --force, 2 refused or\n"
           "failed.\n";
}

struct extract_options {
    std::string image;
    std::string entry; // as typed; "all" for every entry
    std::size_t number = 0;
    output_choice output;
    std::optional<std::string> folder; // -d
    bool force = false;
    bool quiet = false;
    bool no_sync = false;
};

int parse_extract(const std::vector<std::string>& arguments, extract_options& options)
{
    std::vector<std::string> positional;
    const int status =
        walk_arguments(extract_command, arguments, positional,
                       [&](const std::string& option, argument_cursor& cursor) {
                           if (option == "--force")
                               options.force = true;
                           else if (option == "-q")
                               options.quiet = true;
                           else if (option == "--no-sync")
                               options.no_sync = true;
                           else if (option == "-o")
                               return take_output_option("extract", cursor, options.output);
                           else if (option != "-d")
                               return unknown_option;
                           else if (options.folder)
                               return usage_error("extract", "option -d given twice");
                           else if (std::string folder; cursor.take_value(folder))
                               options.folder = folder;
                           else
                               return usage_error("extract", "option -d needs a folder");
                           return tool_ok;
                       });
    if (status != tool_ok)
        return status;
    options.image = positional[0];
    options.entry = positional[1];
    if (options.entry == "all") {
        if (options.output.given)
            return usage_error("extract", "option -o takes one entry; with 'all', give -d DIR");
        return tool_ok;
    }
    if (options.folder)
        return usage_error("extract", "option -d goes with 'all'");
    if (!core::parse_entry(options.entry, options.number))
        return usage_error("extract", core::not_a_number("entry", options.entry));
    return tool_ok;
}

int run_extract_one(const extract_options& options)
{
    const std::string& image_path = options.image;
    found_entry found;
    if (find_image_entry(
            image_path, [&](const tape_entry& e) { return e.entry == options.number; }, found) !=
        tool_ok)
        return tool_failed;
    if (!found.found)
        return report_missing_entry(image_path, options.entry, found.count);
    const tape_entry& entry = found.entry;
    if (entry.kind == entry_kind::file && entry.data_checksum == data_checksum_state::absent)
        return refuse_missing_data(image_path, entry);
    const bool damaged = entry_damaged(entry);
    if (damaged && !options.force)
        return report_tool(tool_failed,
                           damage_label(image_path, entry) + "; --force extracts it anyway");
    const int status = write_binary(options.output.path, found.payload.data(), found.payload.size(),
                                    options.no_sync ? sync_mode::fast : sync_mode::durable);
    if (status != tool_ok || !damaged)
        return status;
    return report_tool(tool_damaged, damage_label(image_path, entry) + "; written as it is");
}

// The first pass over the image for `all`: how many entries, and the first
// damaged one.
struct image_survey {
    bool stream = false;
    std::size_t count = 0;
    std::size_t damaged = 0;
    std::optional<tape_entry> first_damaged;
};

int survey_image(image_walks& image, image_survey& survey)
{
    image_visitor visitor;
    visitor.begin = [&](bool size_known, std::uint64_t) { survey.stream = !size_known; };
    visitor.visit = [&](const tape_entry& entry, const std::uint8_t*, std::uint64_t) {
        if (survey.stream)
            return false;
        ++survey.count;
        if (entry_damaged(entry) && survey.damaged++ == 0)
            survey.first_damaged = entry;
        return true;
    };
    return walk_image_again(image, visitor);
}

// Where entry `entry` of `count` goes: DIR/NN-NAME.bin, the name made safe
// so that it stays in DIR.
std::string target_path(const extract_options& options, const tape_entry& entry, std::size_t count)
{
    return path_in_folder(options.folder, derived_file_name(entry, count, ".bin"));
}

// The refusal of a target that is there already, without --force.
const std::string target_taken = "exists; --force overwrites it";

// A target that is there already is refused without --force, and a link or
// anything but a file is refused always: the bytes go into DIR and nowhere
// else.
int refuse_target(const std::string& path, bool force)
{
    std::string reason;
    switch (look_at_path(path, reason)) {
    case path_kind::missing: return tool_ok;
    case path_kind::file:
        if (force)
            return tool_ok;
        return report_tool(tool_failed, path + ": " + target_taken);
    case path_kind::link:
        return report_tool(tool_failed, path + ": is a symbolic link; not followed");
    case path_kind::folder:
    case path_kind::other: break;
    }
    return report_tool(tool_failed,
                       path + ": " + (reason.empty() ? "not a file" : "cannot look at: " + reason));
}

int run_extract_all(const extract_options& options)
{
    const std::string& image_path = options.image;
    const sync_mode sync = options.no_sync ? sync_mode::fast : sync_mode::durable;
    bool missing_folder = false;
    if (look_at_target_folder(options.folder, missing_folder) != tool_ok)
        return tool_failed;
    image_walks image;
    image.path = image_path;
    image_survey survey;
    if (survey_image(image, survey) != tool_ok)
        return tool_failed;
    // The names need the number of entries first, and every target is looked
    // at before the first is written: the image is walked three times, a file
    // and not a stream.
    if (survey.stream)
        return report_tool(tool_failed, image_path +
                                            ": extract all reads the image twice; save the "
                                            "stream to a file first");
    if (survey.first_damaged && !options.force)
        return report_tool(tool_failed, damage_label(image_path, *survey.first_damaged) + "; " +
                                            (survey.damaged > 1 ? std::to_string(survey.damaged) +
                                                                      " entries are damaged; "
                                                                : "") +
                                            "--force extracts them anyway");

    // Every target is looked at before anything is written.
    int status = tool_ok;
    const std::size_t count = survey.count;
    image_visitor check;
    check.visit = [&](const tape_entry& entry, const std::uint8_t*, std::uint64_t) {
        if (entry.entry > count)
            return false;
        status = refuse_target(target_path(options, entry, count), options.force);
        return status == tool_ok;
    };
    if (walk_image_again(image, check) != tool_ok || status != tool_ok)
        return tool_failed;
    // Made only now, so that a refusal leaves no empty folder behind.
    if (missing_folder && make_target_folder(*options.folder, sync) != tool_ok)
        return tool_failed;

    status = tool_ok;
    std::size_t walked = 0;
    image_visitor write;
    write.visit = [&](const tape_entry& entry, const std::uint8_t* window, std::uint64_t) {
        if (entry.entry > count)
            return false;
        walked = entry.entry;
        if (entry.kind == entry_kind::file && entry.data_checksum == data_checksum_state::absent) {
            status = report_tool(tool_damaged, entry_label(image_path, entry) +
                                                   " has no data block; nothing written for it");
            return true;
        }
        const std::string path = target_path(options, entry, count);
        const std::uint8_t* payload = window + entry.payload_offset;
        // Without --force a target is only ever made: one that appeared since
        // it was looked at is refused as it would have been then.
        if ((options.force ? write_bytes(path, payload, entry.payload_size, sync)
                           : write_new_file(path, payload, entry.payload_size, sync,
                                            target_taken)) != tool_ok) {
            status = tool_failed;
            return false;
        }
        if (!options.quiet) {
            const std::string line = "extracted entry " + std::to_string(entry.entry) + " (" +
                                     describe_entry(entry, entry.payload_size) + ") to " + path +
                                     "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        if (entry_damaged(entry))
            status =
                report_tool(tool_damaged, damage_label(image_path, entry) + "; written as it is");
        return true;
    };
    if (walk_image_again(image, write) != tool_ok)
        return tool_failed;
    // Every entry the first walk counted is written or refused, or the run
    // is no success.
    if (status != tool_failed && walked < count)
        status = report_tool(tool_failed,
                             image_path + ": ended before entry " + std::to_string(walked + 1) +
                                 " of " + std::to_string(count) + "; it changed while it was read");
    return finish_stdout(status);
}

int run_extract(const extract_options& options)
{
    return options.entry == "all" ? run_extract_all(options) : run_extract_one(options);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command extract_command = {
    "extract",
    "extract IMAGE ENTRY|all [-o FILE|-d DIR]",
    "write the payload of one entry, or of all",
    extract_usage,
    parse_and_run<extract_options, parse_extract, run_extract>,
    parse_only<extract_options, parse_extract>,
    {{"no image given", "no entry given"}},
};
