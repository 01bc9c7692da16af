// One conversion run, from the command line to the exit code.
#pragma once

void print_banner();
void print_usage();

// Runs the whole conversion for `argv` and returns the process exit code:
// 0 on success and after -h or -v, otherwise the failure's number.
int run(int argc, const char* const* argv);
