// The command line: the walk over the arguments, the checks that follow it,
// the defaults and the tape name.
#pragma once

#include "basic/pack.h"

#include <optional>
#include <string>

struct conversion_settings {
    std::optional<std::string> input_path;
    std::optional<std::string> output_path;
    bool append = false;
    bool headless = false;
    bool basic = false;
    long address = -1;     // -1: not given
    long file_number = -1; // -1: not given
    char file_type = 0;    // 0: not given
    std::string name;      // empty: not given; otherwise exactly 8 characters
    int status = 0;
};

// Reads a number as strtol with automatic base does (0x hex, leading 0 octal);
// returns -1 for a negative number or for a zero followed by anything unread.
long parse_number(const char* text);

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

// The header fields and the form `settings` ask an input to be packed in, as
// cassmak and the web page both pack it.
pack_fields pack_fields_of(const conversion_settings& settings);

// The 8-character tape name derived from an output path: its last component,
// at most 8 characters, cut at the last dot among them, padded with spaces.
std::string derive_name(const std::string& output_path);
