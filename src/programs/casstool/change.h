// What the commands that change images share (rm, set, move, copy, join,
// split): the printing of their lines, the update of an image under the
// append lock that runs a change planned by the core (tape/changes.h), and
// the writing of a new one.
#pragma once

#include "programs/casstool/image.h"
#include "io/files.h"
#include "tape/changes.h"
#include "tape/edit.h"
#include "tape/spans.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace core = cassmak::core;

// The lines a change prints once it is done: in memory up to a few MiB,
// beyond that in an unnamed temporary file, so that the lines of millions of
// entries removed or copied take no memory.
class report_lines {
  public:
    report_lines() = default;
    ~report_lines();
    report_lines(const report_lines&) = delete;
    report_lines& operator=(const report_lines&) = delete;
    report_lines(report_lines&& other) noexcept;
    report_lines& operator=(report_lines&& other) noexcept;

    report_lines& operator+=(const std::string& text);

    // Writes them all to `stream`; false when a write failed.
    bool print(std::FILE* stream) const;

  private:
    std::string held_;
    std::FILE* spill_ = nullptr;
};

// What a change says: its lines for standard output, and the notes for
// standard error that follow once it is written (damage it was forced over).
struct change_report {
    report_lines lines;
    report_lines table; // a dry run's listing, made as it goes, after the lines
    std::vector<std::string> notes;
};

// Plans the new image from the old one (a plan of tape/changes.h), its
// lines given to `lines` (empty under -q), its refusal or the damage it was
// forced over left in `plan`; false when a read of the old image failed,
// which run_change reports.
using change_work =
    std::function<bool(const core::image_source& old, const core::change_lines& lines, core::change_plan& plan)>;

// The switches the changing commands share; their options records derive
// from it.
struct change_switches {
    bool quiet = false;
    bool dry_run = false;
    bool force = false;   // taken only where there is damage to force over
    bool no_sync = false; // done once the system has the change, not the disk
};

// How a change with `switches` is written.
inline core::sync_mode sync_of(const change_switches& switches)
{
    return switches.no_sync ? core::sync_mode::fast : core::sync_mode::durable;
}

// Sets the switch that `option` names (-q, --dry-run, --no-sync, and
// --force when `with_force`); false when it names none of them.
bool take_change_switch(const std::string& option, change_switches& switches, bool with_force);

struct change_request {
    const char* command;
    std::string path;
    bool create = false; // a missing image is made
    change_switches switches;
};

// Changes the image at `request.path` with `work` through update_output: under
// the append lock, replaced whole by the planned image, or left as it was.
// Prints the lines (and, for a dry run, the list of the image that would
// result, read through the plan without making it, writing nothing), then
// the notes, and returns the exit status.
int run_change(const change_request& request, const change_work& work);

// Writes a new image to `path` with the safe writer; `-` is standard output
// (refused when that is a terminal), and a pipe or terminal named as the
// output takes the bytes as they come (`streamed` then set). A failure is
// reported with the system's reason and tool_failed comes back.
int write_new_image(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    core::sync_mode sync, bool& streamed);

// Prints a report's lines (unless `quiet`) and then its notes on standard
// error, and returns `status` or the failure of standard output.
int finish_report(const change_report& report, bool quiet, int status);
