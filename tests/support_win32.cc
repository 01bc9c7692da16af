// Running the built tools on Windows: CreateProcessW with a pipe for each
// stream, read by a thread each so that neither fills up and stalls.
#include "support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>


namespace {

std::wstring wide(const std::string& text)
{
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// Quotes one word as the C runtime's command line parser takes it apart.
std::wstring quoted(const std::wstring& word)
{
    if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos)
        return word;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// The tools sit in a folder relative to the test program's own.
std::wstring tool_path(const char* relative)
{
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    return (std::filesystem::path(own).parent_path() / wide(relative)).wstring();
}

void drain(HANDLE pipe, std::string& sink)
{
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0)
        sink.append(chunk, got);
    CloseHandle(pipe);
}

} // namespace

run_result run_exe(const char* relative, const std::vector<std::string>& args,
                   const run_options& options)
{
    if (options.file_size_limit >= 0) {
        ADD_FAILURE() << file_size_limit_missing();
        return {-1, "", ""};
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
    HANDLE in_read = nullptr, in_write = nullptr;
    CreatePipe(&out_read, &out_write, &inherit, 0);
    CreatePipe(&err_read, &err_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    if (options.stdin_pipe) {
        CreatePipe(&in_read, &in_write, &inherit, 0);
        SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    } else {
        const std::wstring input = options.stdin_file.empty() ? L"NUL" : wide(options.stdin_file);
        in_read = CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, OPEN_EXISTING, 0, nullptr);
    }
    const std::wstring exe = tool_path(relative);
    std::wstring line = quoted(exe);
    for (const std::string& arg : args)
        line += L" " + quoted(wide(arg));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = in_read;
    start.hStdOutput = out_write;
    start.hStdError = err_write;
    PROCESS_INFORMATION process{};
    const std::wstring cwd = wide(options.cwd);
    const BOOL started =
        CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       cwd.empty() ? nullptr : cwd.c_str(), &start, &process);
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(in_read);
    if (in_write) {
        DWORD ignored = 0;
        WriteFile(in_write, "stdin bytes", 11, &ignored, nullptr);
        CloseHandle(in_write);
    }
    run_result result{-1, "", ""};
    std::thread err_reader([&] { drain(err_read, result.err); });
    drain(out_read, result.out);
    err_reader.join();
    if (!started) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return result;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.exit_code = static_cast<int>(code);
    return result;
}

scratch_dir::scratch_dir()
{
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        root_ = std::filesystem::temp_directory_path() / ("cassmak-" + std::to_string(seed()));
        if (CreateDirectoryW(root_.c_str(), nullptr))
            return;
    }
    ADD_FAILURE() << "no scratch folder";
}

const char* file_size_limit_missing()
{
    return "Windows has no file size limit for a process";
}

const char* unix_devices_missing()
{
    return "Windows has no /dev/stdin, /dev/stdout, /dev/zero or /dev/full";
}

const char* system_call_trace_missing()
{
    return "Windows has no strace, and under Wine the calls are Wine's own";
}

const char* address_space_limit_missing()
{
    return "Windows has no address space limit for a process";
}

int run_with_address_space_room(std::size_t, const std::function<int()>&)
{
    return -1;
}

const char* symbolic_links_missing()
{
    return "symbolic links need a privilege on Windows, and Wine does not make them";
}

const char* sparse_files_missing()
{
    return "a file extended on Windows is sparse only when marked so, which the tests do not do";
}

const char* slash_separated_paths_missing()
{
    return "a file in a folder is written as FOLDER/NAME, and the test's paths use '\\'";
}

int run_shell(const std::string& command)
{
    return std::system(command.c_str());
}

const char* argument_patterns_missing()
{
    return nullptr;
}

std::string folder_separator()
{
    return "\\";
}

const char* backslash_separators_missing()
{
    return nullptr;
}

const char* raw_argument_bytes_missing()
{
    return "a Windows command line is UTF-16 text, which bytes that are not UTF-8 cannot pass";
}

std::string strace_path()
{
    return {};
}

const char* signals_missing()
{
    return "Windows has no POSIX signals to end a running tool with";
}

void end_casstool_by_signal(const std::vector<std::string>&, int, bool)
{
    ADD_FAILURE() << signals_missing();
}

void end_threaded_work_by_signal(const std::function<void()>&, int, bool)
{
    ADD_FAILURE() << signals_missing();
}

std::string signal_dispositions()
{
    return {};
}

const char* read_only_folders_missing()
{
    return "folders are made read-only with POSIX permissions or mounts";
}

bool running_as_superuser()
{
    return false;
}
