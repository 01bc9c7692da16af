// Helpers shared by the tests: byte literals, scratch folders, files, and
// running the built executable as a user would.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using bytes = std::vector<std::uint8_t>;

// Parses hex bytes separated by spaces; "FF*16" stands for sixteen FF.
bytes hex(std::string_view text);
bytes to_bytes(std::string_view text);
bytes concat(std::initializer_list<bytes> parts);

// The 65-byte header block for a file head (14 hex bytes) and its checksum.
bytes header_block(std::string_view head_and_checksum);

// A fresh folder, removed with everything in it when the test ends.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string path(std::string_view name) const;
    const std::filesystem::path& root() const
    {
        return root_;
    }

  private:
    std::filesystem::path root_;
};

void write_file(const std::string& path, const bytes& content);
void write_file(const std::string& path, std::string_view content);
bytes read_file(const std::string& path);

struct run_options {
    std::string cwd;               // where the tool runs; empty: the current folder
    long file_size_limit = -1;     // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored
    bool stdin_pipe = false;       // give the tool a pipe with a few bytes on stdin
    std::string stdin_file = {};   // or this file on stdin, where no shell can redirect it
    long address_space_limit = -1; // RLIMIT_AS in bytes
};

struct run_result {
    int exit_code;
    std::string out;
    std::string err;
};

// Runs the program at `exe` (each platform has its own way) and waits for it.
run_result run_exe(const char* exe, const std::vector<std::string>& args,
                   const run_options& options);
run_result run_cassmak(const std::vector<std::string>& args, const run_options& options = {});
// The built cassmak, for tests that start it themselves.
extern const char* const cassmak_path;
extern const char* const casstool_path;
run_result run_casstool(const std::vector<std::string>& args, const run_options& options = {});

// Why the tools cannot be run under a file size limit here, or null.
const char* file_size_limit_missing();
// Why /dev/stdin, /dev/stdout, /dev/zero and /dev/full are not here, or null.
const char* unix_devices_missing();
// Why the tools cannot be run under an address space limit here, or null.
const char* address_space_limit_missing();
// Why a command line cannot carry bytes that are not UTF-8 here, or null.
const char* raw_argument_bytes_missing();
// Why the tools' system calls cannot be recorded here (with strace), or null.
const char* system_call_trace_missing();
// Where strace is, where system_call_trace_missing() is null.
std::string strace_path();
// Why symbolic links cannot be made here, or null.
const char* symbolic_links_missing();
// Why a file extended past its end does not keep the hole unwritten here
// (so that a test's file of a GiB would take a GiB of disk), or null.
const char* sparse_files_missing();
// Why the program, not the shell, is not the one to expand `*` and `?` in
// its arguments here, or null.
const char* argument_patterns_missing();
// The separator the tools put between a folder typed without one and a name
// they make in it: the system's own.
std::string folder_separator();
// Why '\\' does not separate a folder from a name here, or null.
const char* backslash_separators_missing();
// Why a folder and a name joined with '/' do not read as the test's own
// paths here (where the separator is '\\'), or null.
const char* slash_separated_paths_missing();

// Runs `work` in a child process whose address space may grow by `room`
// bytes beyond what this process holds now, and gives its result (work's
// return, or -1 when the child could not be run so or did not end by
// itself); only where address_space_limit_missing() is null.
int run_with_address_space_room(std::size_t room, const std::function<int()>& work);

// Why the tools, where an address space limit is set, cannot live within a
// small one here (AddressSanitizer reserves far more), or null.
const char* small_address_space_missing();
// Why a running tool cannot be ended by a signal that it holds (SIGTERM) or
// one that it cannot (SIGKILL) here, or null.
const char* signals_missing();
// Starts casstool with `args`, ends it after `delay_ms` milliseconds with
// SIGKILL where `unheld`, else SIGTERM, and waits for it; only where
// signals_missing() is null.
void end_casstool_by_signal(const std::vector<std::string>& args, int delay_ms, bool unheld);
// Why a folder cannot be made read-only for the tools here (with
// permissions, or as the superuser by remounting a tmpfs), or null.
// Runs `work` over and over in a child process that has a second thread
// besides, and ends the child after `delay_us` microseconds by SIGTERM, or
// with `unheld` by SIGKILL; where signals_missing() is null.
void end_threaded_work_by_signal(const std::function<void()>& work, int delay_us, bool unheld);

// Every signal's disposition in this process, as text to compare.
std::string signal_dispositions();

const char* read_only_folders_missing();
// Whether the tests run with the superuser's rights, which permissions do
// not stop.
bool running_as_superuser();

// Skips the running test, which the report then names with the reason, when
// `reason` (one of the answers above) is not null.
#define SKIP_IF_MISSING(reason)                                                                    \
    do {                                                                                           \
        if (const char* skip_reason = (reason))                                                    \
            GTEST_SKIP() << skip_reason;                                                           \
    } while (false)

// Runs `command` in the system's shell; its exit code, or -1 when it did not
// exit (a signal ended it).
int run_shell(const std::string& command);

// The line the tool prints before it writes `path`.
std::string writing(const std::string& path);

// Compares byte buffers and, on a mismatch, shows where they first differ.
testing::AssertionResult same_bytes(const bytes& expected, const bytes& actual);
