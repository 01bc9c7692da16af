#include "support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

bytes hex(std::string_view text)
{
    bytes out;
    std::istringstream words{std::string(text)};
    std::string word;
    while (words >> word) {
        std::size_t star = word.find('*');
        int times = star == std::string::npos ? 1 : std::stoi(word.substr(star + 1));
        auto value = static_cast<std::uint8_t>(std::stoul(word.substr(0, star), nullptr, 16));
        out.insert(out.end(), static_cast<std::size_t>(times), value);
    }
    return out;
}

bytes to_bytes(std::string_view text)
{
    return bytes(text.begin(), text.end());
}

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes header_block(std::string_view head_and_checksum)
{
    return concat({hex("3F 00 FF*16 00*16 55*16"), hex(head_and_checksum)});
}

scratch_dir::scratch_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "cassmak-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    root_ = pattern;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string scratch_dir::path(std::string_view name) const
{
    return (root_ / name).string();
}

void write_file(const std::string& path, const bytes& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(file.good()) << path;
}

void write_file(const std::string& path, std::string_view content)
{
    write_file(path, to_bytes(content));
}

bytes read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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

namespace {

run_result run_exe(const std::string& exe, const std::vector<std::string>& args,
                   const run_options& options)
{
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int in_pipe[2] = {-1, -1};
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || (options.stdin_pipe && pipe(in_pipe) != 0)) {
        ADD_FAILURE() << "pipe failed";
        return {-1, "", ""};
    }
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
        } else {
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
        }
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        std::vector<char*> argv;
        std::string name = exe;
        argv.push_back(name.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
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

} // namespace

const char* const cassmak_path = CASSMAK_EXE;

run_result run_cassmak(const std::vector<std::string>& args, const run_options& options)
{
    return run_exe(CASSMAK_EXE, args, options);
}

run_result run_casstool(const std::vector<std::string>& args, const run_options& options)
{
    return run_exe(CASSTOOL_EXE, args, options);
}

std::string writing(const std::string& path)
{
    return "Writing to the output file '" + path + "'\n";
}

namespace {

std::string hex_around(const bytes& data, std::size_t at)
{
    std::string out;
    char cell[4];
    std::size_t from = at >= 8 ? at - 8 : 0;
    for (std::size_t i = from; i < data.size() && i < at + 8; ++i) {
        std::snprintf(cell, sizeof cell, i == at ? "[%02X" : " %02X", data[i]);
        out += cell;
        if (i == at)
            out += ']';
    }
    return out;
}

} // namespace

testing::AssertionResult same_bytes(const bytes& expected, const bytes& actual)
{
    if (expected == actual)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    return testing::AssertionFailure()
           << "sizes " << expected.size() << " and " << actual.size() << ", first difference at "
           << at << "\n  expected:" << hex_around(expected, at)
           << "\n  actual:  " << hex_around(actual, at);
}
