// One conversion run, from the command line to the exit code.
#pragma once

#include "basic/importer.h"
#include "basic/pack.h"

#include <string>

namespace core = cassmak::core;

// Shows an import's progress and warnings on standard output, then reports a
// refused image as status -19, naming `source_path`; returns that status or
// the image length.
int report_import(const core::basic_import& result, const std::string& source_path);

void print_banner();
void print_usage();

// Runs the whole conversion for `argv` and returns the process exit code:
// 0 on success and after -h or -v, otherwise the failure's number.
int run(int argc, const char* const* argv);
