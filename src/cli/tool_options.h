// casstool's command line, walked into a plain record before any work starts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

enum class tool_command { none, list, extract, basic, check };

struct tool_settings {
    tool_command command = tool_command::none;
    bool help = false;              // -h or --help: the usage of `command`, or the general one
    bool version = false;           // -v or --version
    bool json = false;              // list --json
    bool force = false;             // extract --force
    std::vector<std::string> paths; // list: the images; check: the sources; else the one image
    // extract, basic: the 1-based entry as given; a number too large for
    // std::size_t is kept as its largest value, which no image reaches.
    std::optional<std::size_t> entry;
    std::optional<std::string> output; // -o FILE
    std::vector<std::string> disabled; // check: the kinds of -W no-KIND
};

// The command called `name`, or tool_command::none.
tool_command find_command(const std::string& name);
const char* command_name(tool_command command);

// Walks the arguments after the program name into `settings`. Returns
// tool_ok, or tool_failed after reporting the usage error in one line.
int parse_tool_arguments(int argc, const char* const* argv, tool_settings& settings);
