// Running the built tools on POSIX: fork, exec and a pipe for each stream.
#include "support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

scratch_dir::scratch_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "cassmak-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    root_ = pattern;
}

namespace {

// Reads both pipes to their ends without letting either fill up and stall.
void drain(int out_fd, int err_fd, std::string& out, std::string& err)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int remaining = 2;
    while (remaining > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[65536];
            ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --remaining;
            }
        }
    }
}

} // namespace

run_result run_exe(const char* exe, const std::vector<std::string>& args,
                   const run_options& options)
{
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int in_pipe[2] = {-1, -1};
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || (options.stdin_pipe && pipe(in_pipe) != 0)) {
        ADD_FAILURE() << "pipe failed";
        return {-1, "", ""};
    }
    // Made before the fork: a test that runs tools from several threads forks
    // while another thread may hold the allocator's lock, and a child that
    // allocated would wait on it for ever.
    std::string name = exe;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.push_back(name.data());
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        if (options.file_size_limit >= 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.address_space_limit >= 0) {
            rlimit limit{static_cast<rlim_t>(options.address_space_limit),
                         static_cast<rlim_t>(options.address_space_limit)};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (options.stdin_pipe) {
            dup2(in_pipe[0], 0);
            close(in_pipe[1]);
        } else if (!options.stdin_file.empty()) {
            const int in_fd = open(options.stdin_file.c_str(), O_RDONLY);
            if (in_fd < 0)
                _exit(126);
            dup2(in_fd, 0);
        } else {
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
        }
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        execv(exe, argv.data());
        _exit(127);
    }
    if (options.stdin_pipe) {
        // Written while this end still holds the read side, so an early exit
        // of the tool cannot raise SIGPIPE here.
        ssize_t ignored = write(in_pipe[1], "stdin bytes", 11);
        (void)ignored;
        close(in_pipe[1]);
        close(in_pipe[0]);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    run_result result{-1, "", ""};
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    if (WIFEXITED(wait_status))
        result.exit_code = WEXITSTATUS(wait_status);
    else if (WIFSIGNALED(wait_status))
        result.exit_code = 128 + WTERMSIG(wait_status);
    return result;
}

const char* file_size_limit_missing()
{
    return nullptr;
}

const char* unix_devices_missing()
{
    return nullptr;
}

const char* address_space_limit_missing()
{
    return nullptr;
}

int run_with_address_space_room(std::size_t room, const std::function<int()>& work)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // The pages this process holds, as the system counts them.
        std::ifstream statm("/proc/self/statm");
        unsigned long long pages = 0;
        if (!(statm >> pages))
            _exit(255);
        const auto limit_bytes =
            static_cast<rlim_t>(pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) +
                                room);
        const rlimit limit{limit_bytes, limit_bytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(255);
        _exit(work());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

const char* system_call_trace_missing()
{
    return strace_path().empty() ? "strace is not installed (Debian: apt-get install strace)"
                                 : nullptr;
}

const char* symbolic_links_missing()
{
    return nullptr;
}

const char* sparse_files_missing()
{
    return nullptr;
}

const char* slash_separated_paths_missing()
{
    return nullptr;
}

int run_shell(const std::string& command)
{
    const int raw = std::system(command.c_str());
    return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

const char* argument_patterns_missing()
{
    return "a POSIX shell expands patterns before the program starts";
}

std::string folder_separator()
{
    return "/";
}

const char* backslash_separators_missing()
{
    return "a backslash is a character of a name on POSIX";
}

const char* raw_argument_bytes_missing()
{
    return nullptr;
}

std::string strace_path()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / "strace";
        std::error_code error;
        if (!folder.empty() && std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return {};
}

const char* signals_missing()
{
    return nullptr;
}

void end_casstool_by_signal(const std::vector<std::string>& args, int delay_ms, bool unheld)
{
    // Made before the fork, as run_exe makes its arguments.
    std::vector<std::string> copies = args;
    std::vector<char*> argv{const_cast<char*>(casstool_path)};
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execv(casstool_path, argv.data());
        _exit(127);
    }
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(delay_ms) * 1000);
    kill(child, unheld ? SIGKILL : SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
}

void end_threaded_work_by_signal(const std::function<void()>& work, int delay_us, bool unheld)
{
    // The delay counts from the moment the work begins.
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t child = fork();
    if (child == 0) {
        std::thread idle([] {
            for (;;)
                pause();
        });
        close(ready[0]);
        close(ready[1]);
        for (;;)
            work();
    }
    close(ready[1]);
    char end = 0;
    while (read(ready[0], &end, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(delay_us));
    kill(child, unheld ? SIGKILL : SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the work ended before the signal came: " << status;
}

std::string signal_dispositions()
{
    std::string out;
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
        struct sigaction now {};
        if (sigaction(signal, nullptr, &now) != 0)
            continue;
        out += std::to_string(signal) + ":" +
               std::to_string(reinterpret_cast<std::uintptr_t>(now.sa_handler)) + ":" +
               std::to_string(now.sa_flags) + " ";
    }
    return out;
}

const char* read_only_folders_missing()
{
    return nullptr;
}

bool running_as_superuser()
{
    return geteuid() == 0;
}
