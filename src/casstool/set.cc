#include "casstool/args.h"
#include "casstool/change.h"
#include "casstool/commands.h"
#include "casstool/image.h"
#include "casstool/report.h"

#include <cstdio>

namespace {

std::string set_usage()
{
    return "Usage: casstool set IMAGE ENTRY [--name NAME] [--number N] [--type C]\n"
           "                    [--address A] [--force] [-q] [--dry-run] [--no-sync]\n"
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
           "  --no-sync       do not wait until the disk holds the new image\n"
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

// ", name "PROG", number 3, type 'B', address 0x4000": the fields given.
std::string describe_change(const header_change& change)
{
    std::string text;
    if (change.name) {
        std::string name(change.name->begin(), change.name->end());
        name.erase(name.find_last_not_of(' ') + 1);
        text += ", name \"" + name + "\"";
    }
    if (change.number)
        text += ", number " + std::to_string(*change.number);
    if (change.type)
        text += ", type '" + std::string(1, static_cast<char>(*change.type)) + "'";
    if (change.address) {
        char address[8];
        std::snprintf(address, sizeof address, "0x%04X", *change.address);
        text += ", address " + std::string(address);
    }
    return text.substr(2);
}

int run_set(const set_options& options)
{
    const std::string& path = options.image;
    std::vector<std::uint8_t> window; // the entry, its header rewritten
    const change_work work = [&](const old_file& old, bool, std::vector<plan_piece>& plan,
                                 change_report& report) {
        std::size_t count = 0;
        entry_bounds bounds;
        if (!walk_entry_bounds(old.size, old.read, [&](std::size_t index, const entry_bounds& b) {
                if (index + 1 == options.entry)
                    bounds = b;
                ++count;
                return true;
            }))
            return tool_failed;
        if (options.entry < 1 || options.entry > count)
            return report_missing_entry(path, options.entry_word, count);
        tape_entry entry;
        if (!read_entry(old.read, bounds, options.entry - 1, window, entry))
            return tool_failed;
        if (entry.kind != entry_kind::file)
            return report_tool(
                tool_failed,
                entry_label(path, entry) + " is " +
                    (entry.kind == entry_kind::headless ? "a headless block" : "a truncated tail") +
                    ": it has no header to set");
        int status = tool_ok;
        if (!entry.header_checksum_good) {
            // Computing the checksum again would hide the damage.
            if (!options.force)
                return report_tool(tool_failed,
                                   entry_label(path, entry) +
                                       " has a bad header checksum; --force rewrites it anyway");
            report.notes.push_back(entry_label(path, entry) +
                                   " had a bad header checksum; rewritten with a new one");
            status = tool_damaged;
        }
        report.lines += "set entry " + std::to_string(entry.entry) + " (" + describe_entry(entry) +
                        "): " + describe_change(options.change) + "\n";
        apply_header_change(window, entry, options.change);
        // Only the header block is new; the rest stays where it lies.
        constexpr std::uint64_t head = block_length_size + header_body_size;
        add_old_span(plan, 0, bounds.offset);
        plan.push_back({window.data(), 0, head});
        add_old_span(plan, bounds.offset + head, old.size - bounds.offset - head);
        return status;
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
