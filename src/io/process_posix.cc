// On POSIX the command line already arrives as bytes and the standard
// streams never translate them.
#include "io/files.h"

void take_program_arguments(int& /*argc*/, char**& /*argv*/) {}

void use_binary_streams() {}
