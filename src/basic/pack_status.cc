#include "basic/pack_status.h"

#include <cstdio>
#include <string>

namespace cassmak::core {

namespace {

// The message for a status, with "%s" where the text goes.
const char* message_of(int status)
{
    switch (status) {
    case status_bad_combination: return "Bad combination of options!";
    case status_input_open: return "Can't open input file '%s'!";
    case status_input_access: return "Can't access input file '%s'!";
    case status_input_length: return "Can't retrieve length of the input file '%s'!";
    case status_input_read: return "Can't read from the input file '%s'!";
    case status_output_open: return "Can't open output file '%s'!";
    case status_output_access: return "Can't access output file '%s'!";
    case status_output_write: return "Can't write to the output file '%s'!";
    case status_no_input: return "Input file not specified!\nTry '%s -h' for help.";
    case status_two_inputs: return "Only one input file can be specified!";
    case status_two_outputs: return "Only one output file can be specified!";
    case status_bad_address: return "After '%s' must follow address in range 0 to 65535!";
    case status_bad_number: return "After '%s' must follow file number in range 0 to 99!";
    case status_bad_type: return "After '%s' must follow file type as single ASCII character!";
    case status_bad_name: return "After '%s' must follow file name (max. 8 characters)!";
    case status_stdout_write: return "Can't write to the standard output!";
    default: return nullptr;
    }
}

} // namespace

std::string status_message(int status, std::string_view text, long low, long high)
{
    std::string message;
    if (status == status_input_size) {
        message = "Length of the input file '" + std::string(text) + "' must be in range " +
                  std::to_string(low) + " to " + std::to_string(high) + " bytes!";
    } else if (status == status_basic_too_large) {
        message = "BASIC program from '" + std::string(text) + "' is too large (max. " +
                  std::to_string(high) + " bytes)!";
    } else if (const char* format = message_of(status)) {
        message = format;
        // -12 always names the program, whatever it was started as.
        std::string_view fill = status == status_no_input ? std::string_view("cassmak") : text;
        std::size_t at = message.find("%s");
        if (at != std::string::npos)
            message.replace(at, 2, fill);
    } else {
        message = "Internal error " + std::to_string(status) + "!";
    }
    return message;
}

} // namespace cassmak::core
