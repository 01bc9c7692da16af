#include "programs/casstool/commands.h"

#include "programs/casstool/report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>


const std::vector<const tool_command*>& tool_commands()
{
    static const std::vector<const tool_command*> table = {
        &list_command, &extract_command, &basic_command, &check_command, &renum_command,
        &add_command,  &rm_command,      &set_command,   &move_command,  &copy_command,
        &join_command, &split_command,
    };
    return table;
}

const tool_command* find_tool_command(const std::string& name)
{
    for (const tool_command* command : tool_commands())
        if (name == command->name)
            return command;
    return nullptr;
}

std::string general_usage()
{
    std::string text = "Usage: casstool COMMAND [ARGUMENTS]\n"
                       "Reads back and changes the tape images that cassmak writes.\n"
                       "\n"
                       "Commands:\n";
    // The summaries stand in one column, as far right as the longest one
    // allows within 79 columns; a synopsis too long for that column has a
    // line of its own.
    constexpr std::size_t columns = 79;
    std::size_t width = 0;
    std::size_t longest_summary = 0;
    for (const tool_command* command : tool_commands()) {
        width = std::max(width, std::strlen(command->synopsis));
        longest_summary = std::max(longest_summary, std::strlen(command->summary));
    }
    width = std::min(width, columns - 4 - longest_summary);
    for (const tool_command* command : tool_commands()) {
        std::string row = "  ";
        row += command->synopsis;
        if (row.size() > width + 2) {
            text += row + "\n";
            row.clear();
        }
        row.resize(width + 4, ' ');
        text += row + command->summary + "\n";
    }
    text += "\n"
            "Options:\n"
            "  -h, --help     show this text; after a command, the usage of that command\n"
            "  -v, --version  show the version\n"
            "\n"
            "ENTRY is the 1-based position of a stored file or block, as list numbers it.\n"
            "An input of - is standard input, -o - standard output; -- ends the options.\n"
            "Exit status: 0 everything read is sound, 1 something read is damaged or a\n"
            "change was forced over damage, 2 a usage error, an unreadable file, a missing\n"
            "or unfit entry, or a refused output.\n";
    return text;
}

namespace {

bool is_help(const std::string& argument)
{
    return argument == "-h" || argument == "--help";
}

int print_text(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    return finish_stdout(tool_ok);
}

} // namespace

int run_tool(int argc, const char* const* argv)
{
    if (argc < 2)
        return report_tool(tool_failed, "no command given (see 'casstool --help')");
    const std::string first = argv[1];
    if (is_help(first))
        return print_text(general_usage());
    if (first == "-v" || first == "--version")
        return print_text("casstool " CASSMAK_VERSION "\n");
    const tool_command* command = find_tool_command(first);
    if (!command)
        return report_tool(
            tool_failed,
            (first.size() > 1 && first[0] == '-' ? "unknown option '" : "unknown command '") +
                first + "' (see 'casstool --help')");
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    // Asking for help is never an error, whatever else is on the line.
    const auto options_end = std::find(arguments.begin(), arguments.end(), "--");
    if (std::any_of(arguments.begin(), options_end, is_help))
        return print_text(command->usage());
    return command->run(arguments);
}
