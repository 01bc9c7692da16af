#include "programs/casstool/args.h"

#include "programs/casstool/report.h"
#include "tape/changes.h"
#include "tape/fields.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

using namespace cassmak::core;

int usage_error(const std::string& command, const std::string& what)
{
    return report_tool(tool_failed,
                       command + ": " + what + " (see 'casstool " + command + " --help')");
}

bool argument_cursor::take_value(std::string& value)
{
    if (at + 1 >= arguments.size())
        return false;
    value = arguments[++at];
    return true;
}

int walk_options(const std::string& command, const std::vector<std::string>& arguments,
                 std::vector<std::string>& positional, const option_taker& take_option)
{
    argument_cursor cursor{arguments};
    bool options_done = false;
    for (; cursor.at < arguments.size(); ++cursor.at) {
        const std::string& argument = arguments[cursor.at];
        if (options_done || argument.size() < 2 || argument[0] != '-') {
            positional.push_back(argument);
        } else if (argument == "--") {
            options_done = true;
        } else {
            const int status = take_option(argument, cursor);
            if (status == unknown_option)
                return usage_error(command, "unknown option '" + argument + "'");
            if (status != tool_ok)
                return status;
        }
    }
    return tool_ok;
}

int check_positional(const tool_command& command, const std::vector<std::string>& positional)
{
    const command_arguments& rule = command.positional;
    if (positional.size() < rule.needed.size())
        return usage_error(command.name, rule.needed[positional.size()]);
    const std::size_t most = rule.needed.size() + rule.optional;
    if (!rule.repeats && positional.size() > most)
        return usage_error(command.name, "unexpected argument '" + positional[most] + "'");
    return tool_ok;
}

int walk_arguments(const tool_command& command, const std::vector<std::string>& arguments,
                   std::vector<std::string>& positional, const option_taker& take_option)
{
    const int status = walk_options(command.name, arguments, positional, take_option);
    return status != tool_ok ? status : check_positional(command, positional);
}

int take_output_option(const std::string& command, argument_cursor& cursor, output_choice& output)
{
    std::string value;
    if (!cursor.take_value(value))
        return usage_error(command, "option -o needs a file name");
    if (output.given)
        return usage_error(command, "option -o given twice");
    output.given = true;
    if (value != "-")
        output.path = value;
    return tool_ok;
}

namespace {

// The options that give a header field, each with its field.
const std::pair<const char*, header_field> field_options[] = {
    {"--name", header_field::name},
    {"--number", header_field::number},
    {"--type", header_field::type},
    {"--address", header_field::address},
};

} // namespace

int take_header_option(const std::string& command, const std::string& option,
                       argument_cursor& cursor, header_change& change)
{
    const auto named = std::find_if(std::begin(field_options), std::end(field_options),
                                    [&](const auto& known) { return option == known.first; });
    if (named == std::end(field_options))
        return unknown_option;
    const header_field field = named->second;
    std::string text;
    if (!cursor.take_value(text))
        return usage_error(command, "option " + option + " needs " + header_field_needs(field));
    const std::string problem = take_header_field(field, text, change);
    return problem.empty() ? tool_ok : usage_error(command, problem);
}
