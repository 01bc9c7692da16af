#include "casstool/change.h"

#include "casstool/args.h"
#include "casstool/report.h"
#include "casstool/table.h"
#include "io/files.h"
#include "io/outcome_words.h"

#include <cstdio>

int report_entry_list(const std::string& path, const entry_list_result& result)
{
    return report_tool(tool_failed, entry_list_message(path, result));
}

int report_open_inside(const std::string& path, entry_kind kind, const std::string& origin,
                       std::size_t entry)
{
    return report_tool(tool_failed, open_inside_words(path, kind, origin, entry));
}

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
    if (!quiet)
        report.lines.print(stdout);
    status = finish_stdout(status);
    for (const std::string& note : report.notes)
        report_tool(status, note);
    return status;
}

int run_change(const change_request& request, const change_work& work)
{
    const std::string& path = request.path;
    if (path == "-")
        return usage_error(request.command,
                           "standard input cannot be changed; give the image's file name");
    change_report report;
    int status = tool_ok;
    std::vector<plan_piece> plan;
    const image_transform transform = [&](const old_file& old, bool existed,
                                          std::vector<image_piece>& pieces) {
        // Called again when another run replaced the image meanwhile.
        report = change_report{};
        plan.clear();
        status = work(old, existed, plan, report);
        if (status == tool_failed)
            return false;
        if (request.switches.dry_run) {
            std::vector<std::uint8_t> updated;
            if (assemble_plan(plan, old.read, updated))
                report.lines += image_table(path, updated.data(), updated.size());
            return false;
        }
        pieces.reserve(plan.size());
        for (const plan_piece& piece : plan)
            pieces.push_back({piece.bytes, piece.from, piece.count});
        return true;
    };
    const write_result result =
        update_output(path, request.create, transform, sync_of(request.switches));
    if (result.outcome == write_outcome::read_failed)
        return report_tool(tool_failed, update_failure_message(path, result));
    if (status == tool_failed)
        return status;
    if (result.outcome == write_outcome::unsynced)
        return report_tool(tool_failed, update_failure_message(path, result));
    const bool declined = request.switches.dry_run && result.outcome == write_outcome::declined;
    if (result.outcome != write_outcome::written && !declined)
        return report_tool(tool_failed, update_failure_message(path, result));
    return finish_report(report, request.switches.quiet && !request.switches.dry_run, status);
}

int write_new_image(const std::string& path, const std::vector<std::uint8_t>& bytes, sync_mode sync)
{
    if (path == "-")
        return write_binary(std::nullopt, bytes.data(), bytes.size(), sync);
    const write_result result = write_output(path, bytes.data(), bytes.size(), false, sync);
    if (result.outcome == write_outcome::access_failed)
        return report_tool(tool_failed, path + ": cannot be replaced (a pipe or terminal); "
                                               "redirect standard output instead");
    return report_write_result(path, result, false);
}
