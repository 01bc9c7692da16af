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

int refuse_open_inside(const std::string& path, const std::vector<entry_piece>& pieces,
                       const std::vector<piece_origin>& origins)
{
    const std::string message = open_inside_message(path, pieces, origins);
    return message.empty() ? tool_ok : report_tool(tool_failed, message);
}

static_assert(change_done == tool_ok && change_forced == tool_damaged &&
                  change_refused == tool_failed,
              "a change's status is casstool's");

int take_outcome(change_outcome&& outcome, std::vector<std::uint8_t>& updated,
                 change_report& report)
{
    if (outcome.status == change_refused)
        return report_tool(tool_failed, outcome.message);
    updated = std::move(outcome.image);
    report.lines = std::move(outcome.lines);
    report.notes = std::move(outcome.notes);
    return outcome.status;
}

bool take_change_switch(const std::string& option, change_switches& switches, bool with_force)
{
    bool* on = option == "-q"                      ? &switches.quiet
               : option == "--dry-run"             ? &switches.dry_run
               : option == "--force" && with_force ? &switches.force
                                                   : nullptr;
    if (on)
        *on = true;
    return on != nullptr;
}

int finish_report(const change_report& report, bool quiet, int status)
{
    if (!quiet)
        std::fwrite(report.lines.data(), 1, report.lines.size(), stdout);
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
    const image_transform transform = [&](old_image old, bool existed,
                                          std::vector<std::uint8_t>& updated) {
        // Called again when another run replaced the image meanwhile.
        report = change_report{};
        std::vector<std::uint8_t> bytes = old.take();
        status = work(bytes, existed, updated, report);
        if (status == tool_failed)
            return false;
        if (request.switches.dry_run) {
            report.lines += image_table(path, updated.data(), updated.size());
            return false;
        }
        return true;
    };
    const write_result result = update_output(path, request.create, transform);
    if (status == tool_failed)
        return status;
    const bool declined = request.switches.dry_run && result.outcome == write_outcome::declined;
    if (result.outcome != write_outcome::written && !declined)
        return report_tool(tool_failed, update_failure_message(path, result));
    return finish_report(report, request.switches.quiet && !request.switches.dry_run, status);
}

int write_new_image(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    if (path == "-")
        return write_binary(std::nullopt, bytes.data(), bytes.size());
    const write_result result = write_output(path, bytes.data(), bytes.size(), false);
    if (result.outcome == write_outcome::access_failed)
        return report_tool(tool_failed, path + ": cannot be replaced (a pipe or terminal); "
                                               "redirect standard output instead");
    return report_write_result(path, result, false);
}
