#include "programs/casstool/change.h"

#include "io/files.h"
#include "io/outcome_words.h"
#include "programs/casstool/args.h"
#include "programs/casstool/report.h"
#include "tape/limits.h"
#include "tape/table.h"

#include <algorithm>
#include <cstdio>

using namespace cassmak::core;

bool take_change_switch(const std::string& option, change_switches& switches, bool with_force)
{
    bool* on = option == "-q"                      ? &switches.quiet
               : option == "--dry-run"             ? &switches.dry_run
               : option == "--no-sync"             ? &switches.no_sync
               : option == "--force" && with_force ? &switches.force
                                                   : nullptr;
    if (on)
        *on = true;
    return on != nullptr;
}

namespace {

// How much of a report is held in memory before the rest goes to a file.
constexpr std::size_t held_lines = std::size_t{4} << 20;

} // namespace

report_lines::~report_lines()
{
    if (spill_)
        std::fclose(spill_);
}

report_lines::report_lines(report_lines&& other) noexcept
    : held_(std::move(other.held_)), spill_(other.spill_)
{
    other.spill_ = nullptr;
}

report_lines& report_lines::operator=(report_lines&& other) noexcept
{
    if (this != &other) {
        if (spill_)
            std::fclose(spill_);
        held_ = std::move(other.held_);
        spill_ = other.spill_;
        other.spill_ = nullptr;
    }
    return *this;
}

report_lines& report_lines::operator+=(const std::string& text)
{
    held_ += text;
    if (held_.size() < held_lines)
        return *this;
    // Where no temporary file can be made, the lines stay in memory.
    if (!spill_)
        spill_ = std::tmpfile();
    if (spill_ && std::fwrite(held_.data(), 1, held_.size(), spill_) == held_.size())
        held_.clear();
    return *this;
}

bool report_lines::print(std::FILE* stream) const
{
    if (spill_) {
        std::rewind(spill_);
        std::vector<char> buffer(std::size_t{1} << 16);
        for (std::size_t got = 0; (got = std::fread(buffer.data(), 1, buffer.size(), spill_)) > 0;)
            if (std::fwrite(buffer.data(), 1, got, stream) != got)
                return false;
    }
    return std::fwrite(held_.data(), 1, held_.size(), stream) == held_.size();
}

int finish_report(const change_report& report, bool quiet, int status)
{
    if (!quiet) {
        report.lines.print(stdout);
        report.table.print(stdout);
    }
    status = finish_stdout(status);
    for (const std::string& note : report.notes)
        report_tool(status, note);
    return status;
}

namespace {

// Adds the listing of the image that `plan` makes of the old image read
// through `old`, as `list` prints it: the new image is read through the plan
// a window at a time, as `list` reads a file, rather than made; false when a
// read failed.
bool add_plan_table(const std::string& path, const std::vector<plan_piece>& plan,
                    const image_bytes_reader& old, report_lines& lines)
{
    const image_bytes_reader read = plan_reader(plan, old);
    const std::uint64_t size = plan_size(plan);
    std::string out;
    append_table_head(out, path, true, size);
    table_summary summary;
    std::uint64_t given = 0;
    const image_stream_reader next = [&](std::uint8_t* into, std::size_t room, std::size_t& got) {
        got = static_cast<std::size_t>(std::min<std::uint64_t>(room, size - given));
        if (got > 0 && !read(given, into, got))
            return false;
        given += got;
        return true;
    };
    const window_visitor visit = [&](const tape_entry& entry, const std::uint8_t*,
                                     std::uint64_t base) {
        if (entry.entry == 1)
            out += table_heading;
        append_row(out, entry, base);
        count_entry(summary, entry);
        if (out.size() >= held_lines / 16) {
            lines += out;
            out.clear();
        }
        return true;
    };
    if (!walk_image_window(next, visit))
        return false;
    append_summary(out, summary);
    lines += out;
    return true;
}

} // namespace

int run_change(const change_request& request, const change_work& work)
{
    const std::string& path = request.path;
    if (path == "-")
        return usage_error(request.command,
                           "standard input cannot be changed; give the image's file name");
    change_report report;
    change_plan plan;
    const bool quiet = request.switches.quiet && !request.switches.dry_run;
    const change_lines lines = [&](const std::string& line) { report.lines += line; };
    const image_transform transform = [&](const old_file& old, bool,
                                          std::vector<plan_piece>& pieces) {
        // Called again when another run replaced the image meanwhile.
        report = change_report{};
        plan = change_plan{};
        if (!work({old.size, old.read}, quiet ? change_lines{} : lines, plan) ||
            plan.status == change_refused)
            return false;
        report.notes = std::move(plan.notes);
        if (request.switches.dry_run) {
            add_plan_table(path, plan.pieces, old.read, report.lines);
            return false;
        }
        pieces = plan.pieces;
        return true;
    };
    const write_result result =
        update_output(path, request.create, largest_image, transform, sync_of(request.switches));
    if (result.outcome == write_outcome::read_failed)
        return report_tool(tool_failed, update_failure_message(path, result));
    if (plan.status == change_refused)
        return report_tool(tool_failed, plan.message);
    if (result.outcome == write_outcome::unsynced)
        return report_tool(tool_failed, update_failure_message(path, result));
    const bool declined = request.switches.dry_run && result.outcome == write_outcome::declined;
    if (result.outcome != write_outcome::written && !declined)
        return report_tool(tool_failed, update_failure_message(path, result));
    return finish_report(report, quiet, plan.status);
}

int write_new_image(const std::string& path, const std::vector<std::uint8_t>& bytes, sync_mode sync,
                    bool& streamed)
{
    streamed = false;
    if (path == "-")
        return write_binary(std::nullopt, bytes.data(), bytes.size(), sync);
    return write_bytes(path, bytes.data(), bytes.size(), sync, streamed);
}
