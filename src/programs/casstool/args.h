// What every casstool command's parse shares: the walk over its arguments,
// the entry numbers, the one-line usage error and the options several
// commands take alike.
#pragma once

#include "programs/casstool/commands.h"
#include "tape/edit.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Reports "NAME: WHAT (see 'casstool NAME --help')" and returns tool_failed.
int usage_error(const std::string& command, const std::string& what);

// The arguments of a command as its walk hands them out.
struct argument_cursor {
    const std::vector<std::string>& arguments;
    std::size_t at = 0; // of the option being taken

    // The value that follows the option, stepping past it; false when the
    // option is the last argument.
    bool take_value(std::string& value);
};

// What a command's option handler returns for an argument it does not know.
constexpr int unknown_option = -1;

using option_taker = std::function<int(const std::string& option, argument_cursor& cursor)>;

// Walks `arguments`: `--` ends the options; `-` and every argument that does
// not begin with `-` go to `positional` in order; every other one goes to
// `take_option`, which returns tool_ok, tool_failed (reported) or
// unknown_option (reported here). Then checks `positional` against the
// command's row (check_positional).
int walk_arguments(const tool_command& command, const std::vector<std::string>& arguments,
                   std::vector<std::string>& positional, const option_taker& take_option);
// The same walk without the check, for a command that names another lack
// before a missing positional argument.
int walk_options(const std::string& command, const std::vector<std::string>& arguments,
                 std::vector<std::string>& positional, const option_taker& take_option);
// Reports the first positional argument the row needs and `positional`
// lacks ("no image given"), or the first one beyond what it takes
// ("unexpected argument 'X'"), as a usage error.
int check_positional(const tool_command& command, const std::vector<std::string>& positional);

// Where a command writes its bytes: a file given with -o, or standard output
// (no -o, or `-o -`).
struct output_choice {
    bool given = false;              // -o was on the command line
    std::optional<std::string> path; // empty: standard output
};

// Takes the value of the `-o` at `cursor` into `output`; reports a missing
// value or a second -o.
int take_output_option(const std::string& command, argument_cursor& cursor, output_choice& output);

// Takes the option at `cursor` that gives a header field (--name, --number,
// --type, --address) with its value into `change`; reports a missing or unfit
// value. unknown_option where `option` gives no field.
int take_header_option(const std::string& command, const std::string& option,
                       argument_cursor& cursor, cassmak::core::header_change& change);
