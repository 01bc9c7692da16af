// casstool's commands: one row each in one table, from which the dispatch
// and the general help are made. A command lives in a file of its own
// (list.cc, extract.cc, ...) with its usage text, its options, their parse
// and its run, and defines its row there; adding one is that file and a line
// in the table (commands.cc).
#pragma once

#include <string>
#include <vector>

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
};

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
