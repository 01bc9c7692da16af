// casstool's statuses and its one failure reporter.
#pragma once

#include "basic/checker.h"
#include "tape/statuses.h"

#include <string>
#include <string_view>
#include <vector>

// casstool's exit statuses, the core's (tape/statuses.h), which the library
// gives back too: everything read is sound; something read is damaged (or,
// for `basic`, will not come back identically); a usage error, an
// unreadable file, a missing or unfit entry, or a refused output.
constexpr int tool_ok = cassmak::core::work_sound;
constexpr int tool_damaged = cassmak::core::work_damaged;
constexpr int tool_failed = cassmak::core::work_failed;

// Writes "casstool: MESSAGE" and a newline to standard error, after flushing
// standard output so that a combined log keeps its order, and returns
// `status` unchanged.
int report_tool(int status, std::string_view message);

// Flushes standard output, where stdio shows a failed write (a full disk, a
// closed pipe), and reports that failure; otherwise returns `status`.
int finish_stdout(int status);

// Writes each problem found in `source` to standard error as check words its
// warnings ("prog.bas:3:9: error: MESSAGE [undefined-label]"), with
// `severity` ("error", "warning") before the message.
void print_source_problems(const std::string& source,
                           const std::vector<cassmak::core::check_warning>& problems,
                           const char* severity);
