#include "programs/casstool/args.h"
#include "programs/casstool/change.h"
#include "programs/casstool/commands.h"
#include "programs/casstool/image.h"
#include "programs/casstool/report.h"
#include "tape/words.h"

#include <cstdint>
#include <optional>

using namespace cassmak::core;

namespace {

std::string copy_usage()
{
    return "Usage: casstool copy SOURCE ENTRY... --to IMAGE [--at POSITION] [--force]\n"
           "                     [-q] [--dry-run] [--no-sync]\n"
           "Copies the entries of SOURCE byte for byte into IMAGE, at its end or before its\n"
           "entry POSITION; every entry of IMAGE keeps its bytes. IMAGE is made when it is\n"
           "missing and replaced whole under the lock that cassmak -append takes. ENTRY is\n"
           "a number, a range A-B or 'all'; SOURCE '-' is standard input.\n"
           "\n"
           "  --to IMAGE     the image to copy into\n"
           "  --at POSITION  insert before entry POSITION of IMAGE; default: at its end\n"
           "  --force        copy a truncated tail too (exit status 1)\n"
           "  -q             print nothing on success\n"
           "  --dry-run      print the copies and the resulting list; write nothing\n"
           "  --no-sync      do not wait until the disk holds the new image\n"
           "\n"
           "Exit status: 0 copied, 1 a truncated tail copied with --force, 2 a usage\n"
           "error, a missing entry, a refused copy or a failed read or write.\n";
}

struct copy_options : change_switches {
    std::string source;
    std::vector<std::string> entries;
    std::string image;
    std::optional<std::string> at_word;
    std::size_t at = 0;
};

int parse_copy(const std::vector<std::string>& arguments, copy_options& options)
{
    std::vector<std::string> positional;
    std::optional<std::string> to;
    const int status = walk_arguments(
        copy_command, arguments, positional,
        [&](const std::string& option, argument_cursor& cursor) {
            if (take_change_switch(option, options, true))
                return tool_ok;
            std::optional<std::string>* value = option == "--to"   ? &to
                                                : option == "--at" ? &options.at_word
                                                                   : nullptr;
            if (!value)
                return unknown_option;
            std::string text;
            if (!cursor.take_value(text))
                return usage_error(
                    "copy", "option " + option +
                                (option == "--to" ? " needs an image" : " needs a position"));
            if (*value)
                return usage_error("copy", "option " + option + " given twice");
            *value = text;
            return tool_ok;
        });
    if (status != tool_ok)
        return status;
    if (!to)
        return usage_error("copy", "no image to copy into; give --to IMAGE");
    options.source = positional[0];
    options.entries.assign(positional.begin() + 1, positional.end());
    options.image = *to;
    if (options.at_word && !core::parse_entry(*options.at_word, options.at))
        return usage_error("copy", core::not_a_number("position", *options.at_word));
    return tool_ok;
}

// Whether both paths name one file, so that the copy is taken from the image
// as it is under the lock.
bool same_file(const std::string& a, const std::string& b)
{
    if (a == "-")
        return false;
    return a == b || names_same_file(a, b);
}

int run_copy(const copy_options& options)
{
    const std::string& path = options.image;
    const bool within = same_file(options.source, path);
    std::vector<std::uint8_t> source;
    std::size_t source_size = 0;
    if (!within && load_image(options.source, source, source_size) != tool_ok)
        return tool_failed;
    // An empty source is a source all the same, not the image itself.
    static const std::uint8_t nothing = 0;
    const std::uint8_t* from = within ? nullptr : source_size == 0 ? &nothing : source.data();
    const change_work work = [&](const image_source& old, const change_lines& lines,
                                 change_plan& plan) {
        return plan_copy(old, path, from, source_size, options.source, options.entries,
                         options.at_word, options.at, options.force, lines, plan);
    };
    return run_change({"copy", path, true, options}, work);
}

} // namespace

// A row of the table in commands.cc (declared in commands.h).
const tool_command copy_command = {
    "copy",
    "copy SOURCE ENTRY... --to IMAGE",
    "copy entries into another image",
    copy_usage,
    parse_and_run<copy_options, parse_copy, run_copy>,
    parse_only<copy_options, parse_copy>,
    {{"no source image given", "no entry given"}, 0, true},
};
