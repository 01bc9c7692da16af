#include "casstool/args.h"
#include "casstool/change.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"

namespace {

std::string set_usage()
{
    return "Usage: casstool set IMAGE ENTRY [--name NAME] [--number N] [--type C]\n"
           "                    [--address A] [--force] [-q] [--dry-run]\n"
           "Rewrites the header of the file at ENTRY and computes its checksum again; the\n"
           "fields not given, the data block and every other entry keep their bytes. The\n"
           "image is replaced whole under the lock that cassmak -append takes.\n"
           "\n"
           "  --name NAME     tape name, at most 8 characters, stored upper case and padded\n"
           "  --number N      file number, 0 to 99\n"
           "  --type C        file type, one character from 0x21 to 0x7E ('!' to '~')\n"
           "  --address A     start address, 0 to 65535\n"
           "  --force         rewrite a header whose checksum is bad (exit status 1)\n"
           "  -q              print nothing on success\n"
           "  --dry-run       print the change and the resulting list; write nothing\n"
           "\n"
           "Numbers are decimal, 0x hexadecimal or 0 octal, with nothing after them.\n"
           "Exit status: 0 set, 1 set with --force over a bad header checksum, 2 a usage\n"
           "error, a missing entry, a headless block or truncated tail, or a failed write.\n";
}

struct set_options : change_switches {
    std::string image;
    std::string entry_word;
    std::size_t entry = 0;
    header_change change;
};

// Takes the value of a numeric field option, checked against `most`.
int take_number(argument_cursor& cursor, const std::string& option, unsigned long most,
                const char* what, unsigned long& value)
{
    std::string text;
    if (!cursor.take_value(text))
        return usage_error("set", "option " + option + " needs " + what);
    if (!parse_field_number(text, value) || value > most)
        return usage_error("set", std::string(what) + " '" + text + "' is not 0 to " +
                                      std::to_string(most));
    return tool_ok;
}

int take_set_option(const std::string& option, argument_cursor& cursor, set_options& options)
{
    if (take_change_switch(option, options, true))
        return tool_ok;
    header_change& change = options.change;
    unsigned long value = 0;
    std::string text;
    if (option == "--number") {
        if (const int status = take_number(cursor, option, 99, "a file number", value))
            return status;
        change.number = static_cast<std::uint8_t>(value);
    } else if (option == "--address") {
        if (const int status = take_number(cursor, option, 0xFFFF, "an address", value))
            return status;
        change.address = static_cast<std::uint16_t>(value);
    } else if (option == "--name") {
        if (!cursor.take_value(text))
            return usage_error("set", "option " + option + " needs a name");
        change.name.emplace();
        if (!make_name_field(text, *change.name))
            return usage_error("set", "name '" + text + "' is longer than 8 characters");
    } else if (option == "--type") {
        if (!cursor.take_value(text))
            return usage_error("set", "option " + option + " needs a file type");
        if (!valid_file_type(text))
            return usage_error("set",
                               "file type '" + text + "' is not one character from 0x21 to 0x7E");
        change.type = static_cast<std::uint8_t>(text[0]);
    } else {
        return unknown_option;
    }
    return tool_ok;
}

int parse_set(const std::vector<std::string>& arguments, set_options& options)
{
    std::vector<std::string> positional;
    const int status = walk_arguments("set", arguments, positional,
                                      [&](const std::string& option, argument_cursor& cursor) {
                                          return take_set_option(option, cursor, options);
                                      });
    if (status != tool_ok)
        return status;
    if (positional.empty())
        return usage_error("set", "no image given");
    if (positional.size() < 2)
        return usage_error("set", "no entry given");
    if (positional.size() > 2)
        return usage_error("set", "unexpected argument '" + positional[2] + "'");
    options.image = positional[0];
    options.entry_word = positional[1];
    if (!parse_entry(options.entry_word, options.entry))
        return usage_error("set", "entry '" + options.entry_word + "' is not a number");
    const header_change& change = options.change;
    if (!change.name && !change.number && !change.type && !change.address)
        return usage_error("set", "nothing to set; give --name, --number, --type or --address");
    return tool_ok;
}

int run_set(const set_options& options)
{
    const std::string& path = options.image;
    const change_work work = [&](std::vector<std::uint8_t>& old, bool,
                                 std::vector<std::uint8_t>& updated, change_report& report) {
        return take_outcome(set_change(std::move(old), path, options.entry_word, options.entry,
                                       options.change, options.force),
                            updated, report);
    };
    return run_change({"set", path, false, options}, work);
}

} // namespace

extern const tool_command set_command; // a row of the table in commands.cc
const tool_command set_command = {
    "set",
    "set IMAGE ENTRY --FIELD VALUE...",
    "rewrite the header of a stored file",
    set_usage,
    parse_and_run<set_options, parse_set, run_set>,
    parse_only<set_options, parse_set>,
};
