// The command line: the walk over the arguments and the checks that follow
// it, into the core's request for the input.
#pragma once

#include "basic/pack.h"

#include <optional>
#include <string>

namespace core = cassmak::core;

struct conversion_settings {
    std::optional<std::string> input_path;
    std::optional<std::string> output_path;
    bool append = false;
    core::pack_request request;
    int status = 0;
};

// The status of the value `value` (null: none) of option `option` (-a, -n,
// -t or -m; 0 for any other): status_ok or the failure cassmak reports for
// it, unreported.
int option_value_status(const char* option, const char* value);

// Walks the arguments after the program name into `settings` and returns its
// status: 0, -1 for -h, -2 for -v, or the first reported failure.
int parse_arguments(int argc, const char* const* argv, conversion_settings& settings);

// Rejects options that exclude each other, requires an input, and fills in
// the output path, the defaults and the name. Returns 0 or a reported failure.
int complete_settings(conversion_settings& settings);
