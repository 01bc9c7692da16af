// What the commands that change images share (rm, set, move, copy, join,
// split): the words of their lines, the refusals they have in common, the
// update of an image under the append lock, and the writing of a new one.
#pragma once

#include "casstool/image.h"
#include "tape/changes.h"
#include "tape/edit.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reports why `choose_entries` found no entries in the image at `path`, and
// returns tool_failed.
int report_entry_list(const std::string& path, const entry_list_result& result);

// Refuses (tool_failed, reported for `path`) a new image in which an entry
// that takes in whatever follows it (a truncated tail, a header without its
// data block) would be followed by another one; tool_ok otherwise.
int refuse_open_inside(const std::string& path, const std::vector<entry_piece>& pieces,
                       const std::vector<piece_origin>& origins);

// What a change says: its lines for standard output, and the notes for
// standard error that follow once it is written (damage it was forced over).
struct change_report {
    std::string lines;
    std::vector<std::string> notes;
};

// Makes the new image from the old one (which it may take over) and says
// what changed. Returns tool_ok, tool_damaged (done with --force over
// damage), or tool_failed after reporting why nothing is to be done.
using change_work = std::function<int(std::vector<std::uint8_t>& old, bool existed,
                                      std::vector<std::uint8_t>& updated, change_report& report)>;

// Hands a change's outcome to run_change: the new image into `updated` and
// its words into `report`, or the refusal reported. Returns its status.
int take_outcome(change_outcome&& outcome, std::vector<std::uint8_t>& updated,
                 change_report& report);

// The switches the changing commands share; their options records derive
// from it.
struct change_switches {
    bool quiet = false;
    bool dry_run = false;
    bool force = false; // taken only where there is damage to force over
};

// Sets the switch that `option` names (-q, --dry-run, and --force when
// `with_force`); false when it names none of them.
bool take_change_switch(const std::string& option, change_switches& switches, bool with_force);

struct change_request {
    const char* command;
    std::string path;
    bool create = false; // a missing image is made
    change_switches switches;
};

// Changes the image at `request.path` with `work` through update_output: under
// the append lock, read whole and replaced whole, or left as it was. Prints
// the lines (and, for a dry run, the list of the image that would result,
// writing nothing), then the notes, and returns the exit status.
int run_change(const change_request& request, const change_work& work);

// Writes a new image to `path` with the safe writer; `-` is standard output
// (refused when that is a terminal). A failure is reported with the
// system's reason and tool_failed comes back.
int write_new_image(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Prints a report's lines (unless `quiet`) and then its notes on standard
// error, and returns `status` or the failure of standard output.
int finish_report(const change_report& report, bool quiet, int status);
