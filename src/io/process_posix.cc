// On POSIX the command line already arrives as bytes and the standard
// streams never translate them.
#include "io/files.h"

namespace cassmak::core {

void take_program_arguments(int& /*argc*/, char**& /*argv*/) {}

void use_binary_streams() {}

char path_separator()
{
    return '/';
}

bool is_path_separator(char c)
{
    return c == '/';
}

} // namespace cassmak::core
