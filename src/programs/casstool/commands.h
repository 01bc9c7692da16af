// casstool's commands: one row each in one table, from which the dispatch
// and the general help are made. A command lives in a file of its own
// (list.cc, extract.cc, ...) with its usage text, its options, their parse
// and its run, and defines its row there; adding one is that file and a line
// in the table (commands.cc).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The positional arguments of a command: those it needs, in order, each named
// by the words its absence is reported with; how many more it may take after
// them; and whether the last of them may be given again and again.
struct command_arguments {
    std::vector<const char*> needed;
    std::size_t optional = 0;
    bool repeats = false;
};

struct tool_command {
    const char* name;
    const char* synopsis; // the command line, as the general help shows it
    const char* summary;  // what it does, in a few words
    std::string (*usage)();
    // Both take the arguments after the command's name and return a casstool
    // status (casstool/report.h), the failures reported. `parse` only walks
    // the arguments, for checking a command line without doing its work.
    int (*run)(const std::vector<std::string>& arguments);
    int (*parse)(const std::vector<std::string>& arguments);
    // Checked by the shared walk (args.h), which words their lack and excess.
    command_arguments positional;
};

// The rows, each defined in the command's own file.
extern const tool_command list_command;
extern const tool_command extract_command;
extern const tool_command basic_command;
extern const tool_command check_command;
extern const tool_command add_command;
extern const tool_command rm_command;
extern const tool_command set_command;
extern const tool_command move_command;
extern const tool_command copy_command;
extern const tool_command join_command;
extern const tool_command split_command;
extern const tool_command renum_command;

// The table, in the order the help lists it.
const std::vector<const tool_command*>& tool_commands();

// The command called `name`, or null.
const tool_command* find_tool_command(const std::string& name);

// The text of `casstool --help`.
std::string general_usage();

// Runs the command in `argv` and returns the exit status: tool_ok,
// tool_damaged or tool_failed.
int run_tool(int argc, const char* const* argv);

// A command's parse and run from its own options record: `Parse` fills the
// record (reporting a usage error), `Work` does what it asks.
template <typename Options, int (*Parse)(const std::vector<std::string>&, Options&),
          int (*Work)(const Options&)>
int parse_and_run(const std::vector<std::string>& arguments)
{
    Options options;
    const int status = Parse(arguments, options);
    return status != 0 ? status : Work(options);
}

template <typename Options, int (*Parse)(const std::vector<std::string>&, Options&)>
int parse_only(const std::vector<std::string>& arguments)
{
    Options options;
    return Parse(arguments, options);
}
