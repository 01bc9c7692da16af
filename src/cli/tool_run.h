// One casstool run, from the command line to the exit status.
#pragma once

// Runs the command in `argv` and returns the exit status: tool_ok,
// tool_damaged or tool_failed (cli/tool_report.h).
int run_tool(int argc, const char* const* argv);
