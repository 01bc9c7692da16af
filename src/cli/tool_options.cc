#include "cli/tool_options.h"

#include "basic/checker.h"
#include "cli/tool_report.h"

#include <algorithm>
#include <limits>

namespace {

struct command_row {
    tool_command command;
    const char* name;
};

constexpr command_row commands[] = {{tool_command::list, "list"},
                                    {tool_command::extract, "extract"},
                                    {tool_command::basic, "basic"},
                                    {tool_command::check, "check"}};

// One line naming the command and what is wrong, and where to read more.
int usage_error(tool_command command, const std::string& what)
{
    if (command == tool_command::none)
        return report_tool(tool_failed, what + " (see 'casstool --help')");
    const std::string name = command_name(command);
    return report_tool(tool_failed, name + ": " + what + " (see 'casstool " + name + " --help')");
}

bool is_help(const std::string& arg)
{
    return arg == "-h" || arg == "--help";
}

// Digits only, as `list` shows the numbers; a number beyond std::size_t
// saturates, so that it is reported as an entry the image does not have.
bool parse_entry(const std::string& text, std::size_t& entry)
{
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    entry = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::size_t>(c - '0');
        entry = entry > (most - digit) / 10 ? most : entry * 10 + digit;
    }
    return true;
}

int take_disabled_kind(const std::string& value, tool_settings& settings)
{
    if (value.compare(0, 3, "no-") != 0)
        return usage_error(tool_command::check, "option -W takes no-KIND, not '" + value + "'");
    const std::string kind = value.substr(3);
    const auto& known = check_kinds();
    if (std::find(known.begin(), known.end(), kind) == known.end())
        return usage_error(tool_command::check, "unknown warning kind '" + kind + "'");
    settings.disabled.push_back(kind);
    return tool_ok;
}

// Walks the options of the command; everything else is collected in
// `positional`, in order.
int walk_options(int argc, const char* const* argv, tool_settings& settings,
                 std::vector<std::string>& positional)
{
    const tool_command command = settings.command;
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (command == tool_command::list && arg == "--json") {
            settings.json = true;
        } else if (command == tool_command::extract && arg == "--force") {
            settings.force = true;
        } else if ((command == tool_command::extract || command == tool_command::basic) &&
                   arg == "-o") {
            if (i + 1 >= argc)
                return usage_error(command, "option -o needs a file name");
            if (settings.output)
                return usage_error(command, "option -o given twice");
            settings.output = argv[++i];
        } else if (command == tool_command::check && arg.compare(0, 2, "-W") == 0) {
            if (arg == "-W" && i + 1 >= argc)
                return usage_error(command, "option -W needs no-KIND");
            const std::string value = arg == "-W" ? argv[++i] : arg.substr(2);
            if (take_disabled_kind(value, settings) != tool_ok)
                return tool_failed;
        } else {
            return usage_error(command, "unknown option '" + arg + "'");
        }
    }
    return tool_ok;
}

// Checks the count of the other arguments and takes them into `settings`.
int take_positional(const std::vector<std::string>& positional, tool_settings& settings)
{
    const tool_command command = settings.command;
    const bool reads_sources = command == tool_command::check;
    if (positional.empty())
        return usage_error(command, reads_sources ? "no source given" : "no image given");
    if (command == tool_command::list || command == tool_command::check) {
        settings.paths = positional;
        return tool_ok;
    }
    constexpr std::size_t most = 2; // IMAGE ENTRY
    if (command == tool_command::extract && positional.size() < 2)
        return usage_error(command, "no entry given");
    if (positional.size() > most)
        return usage_error(command, "unexpected argument '" + positional[most] + "'");
    settings.paths = {positional[0]};
    if (positional.size() == 2) {
        std::size_t entry = 0;
        if (!parse_entry(positional[1], entry))
            return usage_error(command, "entry '" + positional[1] + "' is not a number");
        settings.entry = entry;
    }
    return tool_ok;
}

} // namespace

tool_command find_command(const std::string& name)
{
    for (const command_row& row : commands)
        if (name == row.name)
            return row.command;
    return tool_command::none;
}

const char* command_name(tool_command command)
{
    for (const command_row& row : commands)
        if (command == row.command)
            return row.name;
    return "";
}

int parse_tool_arguments(int argc, const char* const* argv, tool_settings& settings)
{
    if (argc < 2)
        return usage_error(tool_command::none, "no command given");
    const std::string first = argv[1];
    if (is_help(first)) {
        settings.help = true;
        return tool_ok;
    }
    if (first == "-v" || first == "--version") {
        settings.version = true;
        return tool_ok;
    }
    settings.command = find_command(first);
    if (settings.command == tool_command::none)
        return usage_error(
            tool_command::none,
            (first.size() > 1 && first[0] == '-' ? "unknown option '" : "unknown command '") +
                first + "'");
    // Asking for help is never an error, whatever else is on the line.
    for (int i = 2; i < argc && std::string(argv[i]) != "--"; ++i) {
        if (is_help(argv[i])) {
            settings.help = true;
            return tool_ok;
        }
    }
    std::vector<std::string> positional;
    if (walk_options(argc, argv, settings, positional) != tool_ok)
        return tool_failed;
    return take_positional(positional, settings);
}
