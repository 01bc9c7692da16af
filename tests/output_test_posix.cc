// End-to-end: the output file when a write fails, is interrupted, or races
// other runs. Every case ends with the old image whole or the new one whole.
#include "io/files.h"
#include "support.h"
#include "tape/blocks.h"
#include "tape/limits.h"
#include "tape/reader.h"
#include "whole_image.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace cassmak::core;

namespace fs = std::filesystem;

namespace {

// Starts cassmak in `cwd` without waiting; its standard output goes to
// `out` and standard error to /dev/null. A file size limit leaves SIGXFSZ at
// its default action, which would end the process.
pid_t start_cassmak(const std::string& cwd, const std::vector<std::string>& args,
                    long file_size_limit = -1, const std::string& out = "/dev/null",
                    const std::vector<std::string>& environment = {})
{
    std::vector<std::string> words = args;
    words.insert(words.begin(), cassmak_path);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null_fd = open("/dev/null", O_RDWR);
        if (out_fd < 0 || null_fd < 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        dup2(null_fd, 0);
        dup2(out_fd, 1);
        dup2(null_fd, 2);
        // Whatever the test runner ignores or holds, these end the tool.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM})
            std::signal(signal, SIG_DFL);
        // A SIGQUIT must not leave a core file among the names checked.
        rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (file_size_limit >= 0) {
            rlimit limit{static_cast<rlim_t>(file_size_limit),
                         static_cast<rlim_t>(file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// The exit code, or 128 and the signal that ended the process.
int finish(pid_t child)
{
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::set<std::string> names_in(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Walks a tape image made of tape files; maps each file number to its
// payload, or explains the first fault (a bad block, a checksum, a number
// seen twice).
std::string walk_tape(const bytes& image, std::map<int, bytes>& files)
{
    auto word = [&](std::size_t at) { return image[at] | image[at + 1] << 8; };
    std::size_t at = 0;
    while (at < image.size()) {
        if (image.size() - at < 67 || word(at) != 63)
            return "no header block at " + std::to_string(at);
        int sum = 0;
        for (std::size_t i = at + 50; i < at + 64; ++i)
            sum += image[i];
        const int number = image[at + 50];
        const std::size_t length = word(at + 54) + 1U;
        if ((sum & 0xFF) != image[at + 64] || word(at + 65) != static_cast<int>(length) + 1 ||
            image.size() - at - 67 < length + 1)
            return "torn tape file at " + std::to_string(at);
        bytes payload(image.begin() + static_cast<long>(at) + 67,
                      image.begin() + static_cast<long>(at + 67 + length));
        sum = 0;
        for (std::uint8_t byte : payload)
            sum += byte;
        if ((sum & 0xFF) != image[at + 67 + length])
            return "bad data checksum at " + std::to_string(at);
        if (!files.emplace(number, payload).second)
            return "file " + std::to_string(number) + " twice";
        at += 67 + length + 1;
    }
    return "";
}

class Output : public testing::Test {
  protected:
    std::string path(const std::string& name) const
    {
        return dir.path(name);
    }

    // Makes big.bin, and the image of it as `fresh` with how long cassmak
    // took to write it, in microseconds: the span of the moments to end a run.
    void time_a_fresh_run(bytes& fresh, long& microseconds) const
    {
        write_file(path("big.bin"), bytes(65533, 0x33));
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_EQ(0, finish(start_cassmak(dir.root().string(),
                                          {"-m", "tape", "-o", "fresh.kst", "big.bin"})));
        microseconds = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::steady_clock::now() - begin)
                                             .count());
        fresh = read_file(path("fresh.kst"));
        fs::remove(path("fresh.kst"));
    }

    scratch_dir dir;
};

const bytes old_image(1000, 0x77);

// The tape file of the two-byte payload 01 02 named GAME, number 0, type ?.
const bytes game_tape =
    concat({header_block("00 3F 00 00 01 00 47 41 4D 45 20 20 20 20 DA"), hex("03 00 01 02 03")});

// Fails a large replace and a large append on each kind of output in
// `folder` under `options`; nothing may change and nothing may be left over.
void check_failed_writes(const std::string& folder, const scratch_dir& dir, run_options options,
                         long limit_beyond_old)
{
    const std::string big = dir.path("big.bin");
    write_file(big, bytes(65533, 0x33));
    enum kind { plain, hard_link, symlink };
    for (kind output : {plain, hard_link, symlink}) {
        for (bool append : {false, true}) {
            const std::string what = std::to_string(output) + (append ? " -append" : " replace");
            fs::remove_all(folder);
            fs::create_directory(folder);
            write_file(folder + "/tape.kst", old_image);
            std::set<std::string> names = {"tape.kst"};
            if (output == hard_link)
                fs::create_hard_link(folder + "/tape.kst", folder + "/other.kst");
            if (output == symlink)
                fs::create_symlink("tape.kst", folder + "/other.kst");
            if (output != plain)
                names.insert("other.kst");
            std::vector<std::string> args = {
                "-o", folder + "/" + (output == plain ? "tape.kst" : "other.kst"), big};
            if (append)
                args.insert(args.begin(), "-append");
            if (limit_beyond_old >= 0)
                options.file_size_limit = (append ? 1000 : 0) + limit_beyond_old;
            run_result result = run_cassmak(args, options);
            EXPECT_EQ(11, result.exit_code) << what;
            EXPECT_EQ(writing(args[args.size() - 2]), result.out) << what;
            EXPECT_EQ("Can't write to the output file '" + args[args.size() - 2] + "'!\n\n",
                      result.err)
                << what;
            EXPECT_EQ(old_image, read_file(folder + "/tape.kst")) << what;
            if (output != plain) {
                EXPECT_EQ(old_image, read_file(folder + "/other.kst")) << what;
            }
            EXPECT_EQ(output == symlink, fs::is_symlink(folder + "/other.kst")) << what;
            EXPECT_EQ(names, names_in(folder)) << what;
        }
    }
}

TEST_F(Output, FailedWritesUnderASizeLimitLoseNothing)
{
    check_failed_writes(path("out"), dir, {}, 10);
}

TEST_F(Output, FailedWritesOnAFullDeviceLoseNothing)
{
    // A 64 KiB file system cannot hold the largest image even once the old
    // one is gone, so a write that truncates first loses the old image.
    const std::string mount_point = path("small");
    fs::create_directory(mount_point);
    if (mount("cassmak-test", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    check_failed_writes(mount_point + "/out", dir, {}, -1);
    umount2(mount_point.c_str(), MNT_DETACH);
}

TEST_F(Output, SizeLimitIsAFailureNotASignal)
{
    write_file(path("big.bin"), bytes(65533, 0x33));
    for (bool append : {false, true}) {
        write_file(path("tape.kst"), old_image);
        std::vector<std::string> args = {"-o", "tape.kst", "big.bin"};
        if (append)
            args.insert(args.begin(), "-append");
        EXPECT_EQ(11, finish(start_cassmak(dir.root().string(), args, 1010))) << append;
        EXPECT_EQ(old_image, read_file(path("tape.kst"))) << append;
        EXPECT_EQ((std::set<std::string>{"big.bin", "tape.kst"}), names_in(dir.root()));
    }
}

TEST_F(Output, ReplaceKeepsLinksModeAndOwner)
{
    write_file(path("game.bin"), hex("01 02"));
    const bool root = geteuid() == 0;
    const mode_t mask = umask(0);
    umask(mask);
    struct {
        const char* name;
        const char* other; // a second name for the output; nullptr: none
        bool hard;         // the second name is a hard link, else `name` is a symlink to it
        mode_t mode;       // of the old file; 0: there is none
    } cases[] = {
        {"tape.kst", nullptr, false, 0640},
        {"link.kst", "tape.kst", false, 0604},
        {"tape.kst", "other.kst", true, 0600},
        {"new.kst", nullptr, false, 0},
    };
    for (const auto& c : cases) {
        const std::string out = path("out") + "/";
        fs::remove_all(out);
        fs::create_directory(out);
        const std::string file = out + (c.other && !c.hard ? c.other : c.name);
        if (c.mode) {
            write_file(file, old_image);
            chmod(file.c_str(), c.mode);
            // Another owner and group, where this process may give them.
            if (root) {
                EXPECT_EQ(0, chown(file.c_str(), 1234, 5678));
            }
        }
        if (c.other && c.hard)
            fs::create_hard_link(file, out + c.other);
        else if (c.other)
            fs::create_symlink(c.other, out + c.name);

        run_result result = run_cassmak({"-o", out + c.name, "-m", "game", path("game.bin")});
        EXPECT_EQ(0, result.exit_code) << c.name;
        struct stat state {};
        ASSERT_EQ(0, stat(file.c_str(), &state));
        EXPECT_EQ(c.mode ? c.mode : 0666 & ~mask, state.st_mode & 07777) << c.name;
        EXPECT_EQ(c.mode && root ? 1234U : geteuid(), state.st_uid) << c.name;
        EXPECT_EQ(c.mode && root ? 5678U : getegid(), state.st_gid) << c.name;
        EXPECT_EQ(game_tape, read_file(out + c.name)) << c.name;
        std::set<std::string> names = {c.name};
        if (c.other) {
            names.insert(c.other);
            EXPECT_EQ(game_tape, read_file(out + c.other)) << c.name;
        }
        EXPECT_EQ(c.other && !c.hard, fs::is_symlink(out + c.name)) << c.name;
        EXPECT_EQ(names, names_in(out)) << c.name;
    }
}

TEST_F(Output, OutputThatIsStdoutOrTheInput)
{
    // Standard output sent to a file: the announcement must not end up in the
    // image. The input as the output: it is read whole before it is replaced.
    struct {
        std::vector<std::string> args;
        const char* file;
    } cases[] = {
        {{"-o", "/dev/stdout", "-m", "game", "game.bin"}, "log.kst"},
        {{"-o", "game.bin", "-m", "game", "game.bin"}, "game.bin"},
    };
    for (const auto& c : cases) {
        write_file(path("game.bin"), hex("01 02"));
        EXPECT_EQ(0, finish(start_cassmak(dir.root().string(), c.args, -1, path("log.kst"))));
        EXPECT_EQ(game_tape, read_file(path(c.file))) << c.file;
        EXPECT_EQ((std::set<std::string>{"game.bin", "log.kst"}), names_in(dir.root()));
    }
}

TEST_F(Output, ConcurrentAppendsStayWhole)
{
    // Images over 4 KiB, each of its run's own bytes. Two runs fail under a
    // file size limit below their image and must take away only their own
    // bytes (and the file, if they made it and nobody else wrote to it).
    constexpr int runs = 20;
    auto limited = [](int run) { return run % 10 == 3; };
    std::vector<bytes> inputs;
    for (int run = 0; run < runs; ++run) {
        bytes input(40000 + 500 * static_cast<std::size_t>(run));
        for (std::size_t i = 0; i < input.size(); ++i)
            input[i] = static_cast<std::uint8_t>(run * 37 + i * 11);
        write_file(path("in" + std::to_string(run)), input);
        inputs.push_back(input);
    }
    for (int round = 0; round < 6; ++round) {
        fs::remove(path("tape.kst"));
        std::vector<pid_t> children;
        for (int run = 0; run < runs; ++run)
            children.push_back(start_cassmak(dir.root().string(),
                                             {"-append", "-o", "tape.kst", "-n",
                                              std::to_string(run), "in" + std::to_string(run)},
                                             limited(run) ? 30000 : -1));
        std::map<int, bytes> expected;
        for (int run = 0; run < runs; ++run) {
            EXPECT_EQ(limited(run) ? 11 : 0, finish(children[run])) << round << " " << run;
            if (!limited(run))
                expected[run] = inputs[run];
        }
        std::map<int, bytes> found;
        EXPECT_EQ("", walk_tape(read_file(path("tape.kst")), found)) << round;
        EXPECT_TRUE(expected == found) << round << ": " << found.size() << " files";
        EXPECT_EQ(runs + 1U, names_in(dir.root()).size()) << round;
    }
}

// Whether process `pid` is waiting for a flock.
bool waits_for_lock(pid_t pid)
{
    std::ifstream locks("/proc/locks");
    const std::string owner = " " + std::to_string(pid) + " ";
    for (std::string line; std::getline(locks, line);)
        if (line.find("-> FLOCK") != std::string::npos && line.find(owner) != std::string::npos)
            return true;
    return false;
}

TEST_F(Output, InterruptWhileWaitingForTheLockChangesNothing)
{
    write_file(path("game.bin"), hex("01 02"));
    struct {
        bool append;
        int signal;
    } cases[] = {{true, SIGTERM}, {false, SIGINT}, {false, SIGHUP}};
    for (const auto& c : cases) {
        write_file(path("tape.kst"), old_image);
        int held = open(path("tape.kst").c_str(), O_RDONLY);
        ASSERT_EQ(0, flock(held, LOCK_EX));
        std::vector<std::string> args = {"-o", "tape.kst", "game.bin"};
        if (c.append)
            args.insert(args.begin(), "-append");
        pid_t child = start_cassmak(dir.root().string(), args);
        bool waiting = false;
        for (int i = 0; i < 500 && !(waiting = waits_for_lock(child)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(waiting) << c.signal;
        kill(child, c.signal);
        EXPECT_EQ(128 + c.signal, finish(child));
        close(held);
        EXPECT_EQ(old_image, read_file(path("tape.kst"))) << c.signal;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
    }
}

TEST_F(Output, TerminatedAtAnyMomentLeavesOldOrNewImage)
{
    bytes fresh;
    long run_time = 0;
    ASSERT_NO_FATAL_FAILURE(time_a_fresh_run(fresh, run_time));

    std::mt19937 random(8);
    std::uniform_int_distribution<long> moment(0, run_time * 5 / 4);
    const int signals[] = {SIGTERM, SIGQUIT, SIGUSR1, SIGALRM};
    for (int i = 0; i < 64; ++i) {
        const bool append = i % 2 == 1;
        const int signal = signals[(i / 2) % 4];
        write_file(path("tape.kst"), old_image);
        std::vector<std::string> args = {"-o", "tape.kst", "big.bin"};
        if (append)
            args.insert(args.begin(), "-append");
        pid_t child = start_cassmak(dir.root().string(), args);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(child, signal);
        const int code = finish(child);
        const bytes now = read_file(path("tape.kst"));
        const bytes written = append ? concat({old_image, fresh}) : fresh;
        EXPECT_TRUE(now == written || (code != 0 && now == old_image))
            << i << (append ? " -append" : "") << ", signal " << signal << ", exit " << code << ", "
            << now.size() << " bytes";
        EXPECT_EQ((std::set<std::string>{"big.bin", "tape.kst"}), names_in(dir.root())) << i;
    }
}

// Runs update_output in a child process, so that it can race other runs and
// be killed; the child exits 0 when the image was written.
pid_t start_update(const std::string& path, const image_transform& transform)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(update_output(path, true, largest_image, transform).outcome == write_outcome::written
                  ? 0
                  : 1);
    return child;
}

// An edit that puts one headless block of `tag` in front of everything.
image_transform put_in_front(const bytes& tag)
{
    return whole_image(
        [tag](const std::vector<std::uint8_t>& old, bool, std::vector<std::uint8_t>& updated) {
            put_headless_block(updated, tag.data(), static_cast<int>(tag.size()));
            updated.insert(updated.end(), old.begin(), old.end());
            return true;
        });
}

TEST_F(Output, UpdatesRacingAppendsLoseNothing)
{
    constexpr int runs = 20;
    write_file(path("game.bin"), bytes(30000, 0x42));
    for (int round = 0; round < 2; ++round) {
        fs::remove(path("tape.kst"));
        std::vector<pid_t> appends;
        std::vector<pid_t> updates;
        for (int run = 0; run < runs; ++run) {
            appends.push_back(
                start_cassmak(dir.root().string(), {"-append", "-o", "tape.kst", "-n",
                                                    std::to_string(run), "game.bin"}));
            updates.push_back(start_update(path("tape.kst"), put_in_front(bytes(3, run))));
        }
        for (int run = 0; run < runs; ++run) {
            EXPECT_EQ(0, finish(appends[run])) << round << " " << run;
            EXPECT_EQ(0, finish(updates[run])) << round << " " << run;
        }
        const bytes image = read_file(path("tape.kst"));
        std::multiset<int> numbers;
        std::multiset<int> tags;
        for (const tape_entry& entry : read_tape_image(image.data(), image.size())) {
            EXPECT_TRUE(entry.problem.empty()) << round << ": " << entry.problem;
            if (entry.kind == entry_kind::file)
                numbers.insert(entry.number);
            else if (entry.length == 3)
                tags.insert(image[entry.payload_offset]);
        }
        std::multiset<int> each;
        for (int run = 0; run < runs; ++run)
            each.insert(run);
        EXPECT_EQ(each, numbers) << round;
        EXPECT_EQ(each, tags) << round;
        EXPECT_EQ(2U, names_in(dir.root()).size()) << round;
    }
}

TEST_F(Output, DeclinedOrFailedUpdateLeavesTheFile)
{
    const image_transform decline = whole_image(
        [](const std::vector<std::uint8_t>&, bool, std::vector<std::uint8_t>&) { return false; });
    write_file(path("tape.kst"), old_image);
    EXPECT_EQ(write_outcome::declined,
              update_output(path("tape.kst"), false, largest_image, decline).outcome);
    EXPECT_EQ(old_image, read_file(path("tape.kst")));
    // A file made for the update goes again when nothing is written to it.
    EXPECT_EQ(write_outcome::declined,
              update_output(path("new.kst"), true, largest_image, decline).outcome);
    EXPECT_EQ(
        write_outcome::open_failed,
        update_output(path("missing.kst"), false, largest_image, put_in_front(hex("01"))).outcome);
    EXPECT_EQ((std::set<std::string>{"tape.kst"}), names_in(dir.root()));

    bool existed = true;
    EXPECT_EQ(write_outcome::written,
              update_output(path("new.kst"), true, largest_image,
                            whole_image([&](const std::vector<std::uint8_t>& old, bool was,
                                            std::vector<std::uint8_t>& updated) {
                                existed = was;
                                updated = old;
                                updated.push_back(0x00);
                                return true;
                            }))
                  .outcome);
    EXPECT_FALSE(existed);
    EXPECT_EQ(hex("00"), read_file(path("new.kst")));
    EXPECT_EQ(
        write_outcome::open_failed,
        update_output(dir.root().string(), false, largest_image, put_in_front(hex("01"))).outcome);
}

TEST_F(Output, UpdateKilledAtAnyMomentLeavesOldOrNewImage)
{
    // About 4 MiB, so that the write takes a while.
    const bytes tag(65535, 0x5A);
    const auto grow = [&tag](const bytes& old, bytes& out) {
        for (int i = 0; i < 64; ++i)
            put_headless_block(out, tag.data(), static_cast<int>(tag.size()));
        out.insert(out.end(), old.begin(), old.end());
    };
    bytes updated;
    grow(old_image, updated);
    std::mt19937 random(14);
    std::uniform_int_distribution<int> moment(0, 20000);
    const image_transform transform = whole_image(
        [&](const std::vector<std::uint8_t>& old, bool, std::vector<std::uint8_t>& out) {
            grow(old, out);
            return true;
        });
    for (int i = 0; i < 40; ++i) {
        const int signal = i % 2 == 0 ? SIGTERM : SIGKILL;
        write_file(path("tape.kst"), old_image);
        const pid_t child = start_update(path("tape.kst"), transform);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(child, signal);
        finish(child);
        const bytes now = read_file(path("tape.kst"));
        EXPECT_TRUE(now == old_image || now == updated) << i << ": " << now.size() << " bytes";
        // Only SIGKILL may leave the temporary file behind.
        if (signal != SIGKILL) {
            EXPECT_EQ((std::set<std::string>{"tape.kst"}), names_in(dir.root())) << i;
        }
        for (const std::string& name : names_in(dir.root()))
            if (name != "tape.kst")
                fs::remove(path(name));
    }
}

// Names in `folder` other than the hidden temporary files that only a
// SIGKILL may leave; those are removed.
std::set<std::string> names_after_kill(const fs::path& folder)
{
    std::set<std::string> names;
    for (const std::string& name : names_in(folder)) {
        if (name.size() > 8 && name[0] == '.' && name[name.size() - 7] == '.')
            fs::remove(folder / name);
        else
            names.insert(name);
    }
    return names;
}

TEST_F(Output, KilledAtAnyMomentLeavesOldOrNewImage)
{
    bytes fresh;
    long run_time = 0;
    ASSERT_NO_FATAL_FAILURE(time_a_fresh_run(fresh, run_time));
    fs::create_directory(path("to"));
    // Each way an output may be: the old image there (or not), reached
    // directly or through a link to a file that is not there yet.
    struct {
        const char* what;
        bool append;
        bool dangling;
    } cases[] = {{"-append", true, false},
                 {"replace", false, false},
                 {"-append through a dangling link", true, true},
                 {"replace through a dangling link", false, true}};
    std::mt19937 random(15);
    std::uniform_int_distribution<long> moment(0, run_time * 5 / 4);
    for (int i = 0; i < 600; ++i) {
        const auto& c = cases[i % 4];
        fs::remove(path("to/tape.kst"));
        fs::remove(path("tape.kst"));
        if (c.dangling)
            fs::create_symlink("to/tape.kst", path("tape.kst"));
        else
            write_file(path("tape.kst"), old_image);
        std::vector<std::string> args = {"-m", "tape", "-o", "tape.kst", "big.bin"};
        if (c.append)
            args.insert(args.begin(), "-append");
        const pid_t child = start_cassmak(dir.root().string(), args);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(child, SIGKILL);
        finish(child);
        const std::string file = path(c.dangling ? "to/tape.kst" : "tape.kst");
        const bool there = fs::exists(file);
        const bytes now = there ? read_file(file) : bytes{};
        const bytes old = c.dangling ? bytes{} : old_image;
        const bytes updated = c.append ? concat({old, fresh}) : fresh;
        EXPECT_TRUE((now == old && there != c.dangling) || now == updated)
            << i << " " << c.what << ": " << now.size() << " bytes";
        EXPECT_EQ((std::set<std::string>{"big.bin", "tape.kst", "to"}),
                  names_after_kill(dir.root()))
            << i;
        EXPECT_LE(names_after_kill(path("to")).size(), 1U) << i;
    }
}

TEST_F(Output, InPlaceRewriteKilledLeavesWhatTheManualSays)
{
    // A hard link is rewritten where it lies: killed during the write, the
    // file holds the new image's start and the old image's rest; killed
    // before the cut, the new image and the old image's tail.
    write_file(path("big.bin"), bytes(65533, 0x33));
    ASSERT_EQ(0, finish(start_cassmak(dir.root().string(),
                                      {"-m", "tape", "-o", "fresh.kst", "big.bin"})));
    const bytes fresh = read_file(path("fresh.kst"));
    const bytes old(3 * fresh.size(), 0x77);
    std::mt19937 random(16);
    std::uniform_int_distribution<long> moment(0, 3000);
    for (int i = 0; i < 100; ++i) {
        write_file(path("tape.kst"), old);
        fs::remove(path("other.kst"));
        fs::create_hard_link(path("tape.kst"), path("other.kst"));
        const pid_t child =
            start_cassmak(dir.root().string(), {"-m", "tape", "-o", "tape.kst", "big.bin"});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(child, SIGKILL);
        finish(child);
        const bytes now = read_file(path("other.kst"));
        std::size_t start = 0;
        while (start < now.size() && start < fresh.size() && now[start] == fresh[start])
            ++start;
        const bool documented =
            now == fresh || (now.size() == old.size() &&
                             std::equal(now.begin() + static_cast<long>(start), now.end(),
                                        old.begin() + static_cast<long>(start)));
        EXPECT_TRUE(documented) << i << ": " << now.size() << " bytes, new up to " << start;
        EXPECT_EQ(now, read_file(path("tape.kst"))) << i;
    }
}

// Runs a shell command and gives what it printed, or nothing when it failed.
std::optional<std::string> shell(const std::string& command)
{
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string out;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    return pclose(pipe) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

TEST_F(Output, AclsAndExtendedAttributesAreKept)
{
    if (!shell("command -v setfacl getfacl setfattr getfattr"))
        GTEST_SKIP() << "setfacl/getfacl (acl) and setfattr/getfattr (attr) are not installed";
    write_file(path("game.bin"), hex("01 02"));
    const std::string probe = path("probe");
    write_file(probe, old_image);
    if (!shell("setfacl -m u:nobody:r-- " + probe) ||
        !shell("setfattr -n user.cassmak -v probe " + probe))
        GTEST_SKIP() << "this file system keeps no ACLs or extended attributes";
    // The group may only read; the ACL's mask, which shows as the mode's
    // group bits, lets a named user write. Or: no ACL on the file, but a
    // default ACL on its folder that a new file would take.
    struct {
        const char* what;
        const char* file_acl;
        const char* folder_acl;
    } cases[] = {
        {"own ACL", "u::rw-,u:nobody:rw-,g::r--,m::rw-,o::---", nullptr},
        {"folder default ACL", nullptr, "d:u:nobody:rwx,d:g::rwx,d:o::rwx"},
    };
    for (const auto& c : cases) {
        for (bool append : {false, true}) {
            const std::string what = std::string(c.what) + (append ? " -append" : " replace");
            const std::string folder = path("out");
            fs::remove_all(folder);
            fs::create_directory(folder);
            if (c.folder_acl) {
                ASSERT_TRUE(shell("setfacl -m " + std::string(c.folder_acl) + " " + folder));
            }
            const std::string tape = folder + "/tape.kst";
            write_file(tape, old_image);
            chmod(tape.c_str(), 0640);
            if (c.file_acl) {
                ASSERT_TRUE(shell("setfacl --set " + std::string(c.file_acl) + " " + tape));
            }
            ASSERT_TRUE(shell("setfattr -n user.origin -v kept " + tape));
            const std::string query = "getfacl -cp " + tape + "; getfattr -d " + tape + " | sed 1d";
            const std::optional<std::string> before = shell(query);
            ASSERT_TRUE(before);
            struct stat old_state {};
            stat(tape.c_str(), &old_state);
            std::vector<std::string> args = {"-m", "game", "-o", tape, path("game.bin")};
            if (append)
                args.insert(args.begin(), "-append");
            EXPECT_EQ(0, run_cassmak(args).exit_code) << what;
            EXPECT_EQ(append ? concat({old_image, game_tape}) : game_tape, read_file(tape)) << what;
            EXPECT_EQ(before, shell(query)) << what;
            struct stat state {};
            stat(tape.c_str(), &state);
            EXPECT_EQ(old_state.st_mode, state.st_mode) << what;
            EXPECT_EQ((std::set<std::string>{"tape.kst"}), names_in(folder)) << what;
        }
    }
}

TEST_F(Output, LinkSwappedInDuringARunRedirectsNothing)
{
    // Another user keeps turning the output, in a folder that user may write,
    // from a file of theirs into a link to a root-only file and back. The
    // root-only folder must never get a file of theirs, or any new file.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as root against another user";
    constexpr uid_t other = 65534;
    const std::string shared = path("shared");
    const std::string closed = path("closed");
    fs::create_directory(shared);
    fs::create_directory(closed);
    chmod(dir.root().c_str(), 0755);
    chmod(closed.c_str(), 0700);
    ASSERT_EQ(0, chown(shared.c_str(), other, other));
    write_file(closed + "/secret.kst", old_image);
    chmod((closed + "/secret.kst").c_str(), 0600);
    write_file(path("game.bin"), hex("01 02"));
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t swapper = fork();
    if (swapper == 0) {
        if (setgid(other) != 0 || setuid(other) != 0)
            _exit(3);
        if (write(ready[1], "x", 1) != 1)
            _exit(4);
        for (;;) {
            const std::string file = shared + "/file", link = shared + "/link";
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd >= 0) {
                fchmod(fd, 0666);
                close(fd);
            }
            if (rename(file.c_str(), (shared + "/out.kst").c_str()) != 0)
                _exit(5);
            unlink(link.c_str());
            if (symlink((closed + "/secret.kst").c_str(), link.c_str()) != 0 ||
                rename(link.c_str(), (shared + "/out.kst").c_str()) != 0)
                _exit(6);
        }
    }
    close(ready[1]);
    char byte = 0;
    const bool started = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    if (!started) {
        kill(swapper, SIGKILL);
        finish(swapper);
        GTEST_SKIP() << "cannot switch to user " << other << " here";
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int runs = 0;
    while (std::chrono::steady_clock::now() < end && runs < 400) {
        run_cassmak({"-m", "game", "-o", shared + "/out.kst", path("game.bin")});
        ++runs;
    }
    kill(swapper, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, finish(swapper)) << "the swapping user stopped early";
    EXPECT_EQ((std::set<std::string>{"secret.kst"}), names_in(closed));
    struct stat state {};
    ASSERT_EQ(0, stat((closed + "/secret.kst").c_str(), &state));
    EXPECT_EQ(0U, state.st_uid) << runs << " runs";
    EXPECT_EQ(0600U, state.st_mode & 07777) << runs << " runs";
}

TEST_F(Output, WithoutLocksAFailedAppendCutsNoOtherRunsFile)
{
    // Where the file system has no locks: a run that will fail (its file size
    // limit is below the image) measures the image, then waits before its
    // write; meanwhile another run appends. The failing run must not cut
    // the file back to what it measured.
    write_file(path("game.bin"), bytes(30000, 0x42));
    write_file(path("tape.kst"), old_image);
    const std::string shim = std::string("LD_PRELOAD=") + NO_LOCK_SHIM;
    const std::vector<std::string> slow = {shim, "CASSMAK_SHIM_WRITE_DELAY_MS=300",
                                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    const pid_t failing =
        start_cassmak(dir.root().string(), {"-append", "-o", "tape.kst", "-n", "1", "game.bin"},
                      500, "/dev/null", slow);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const pid_t other =
        start_cassmak(dir.root().string(), {"-append", "-o", "tape.kst", "-n", "2", "game.bin"}, -1,
                      "/dev/null", {shim, "ASAN_OPTIONS=verify_asan_link_order=0"});
    EXPECT_EQ(0, finish(other));
    EXPECT_EQ(11, finish(failing));
    const bytes image = read_file(path("tape.kst"));
    ASSERT_GE(image.size(), old_image.size());
    EXPECT_TRUE(std::equal(old_image.begin(), old_image.end(), image.begin()));
    std::map<int, bytes> files;
    EXPECT_EQ("", walk_tape(bytes(image.begin() + static_cast<long>(old_image.size()), image.end()),
                            files));
    EXPECT_EQ((std::set<int>{2}), [&] {
        std::set<int> numbers;
        for (const auto& file : files)
            numbers.insert(file.first);
        return numbers;
    }());
    EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
}

TEST_F(Output, HugeHardLinkedOutputIsRewrittenWithinBoundedMemory)
{
    // A 4 GiB sparse file with two names can only be rewritten in place; only
    // the part that the new image covers is kept for the rollback.
    SKIP_IF_MISSING(small_address_space_missing());
    write_file(path("game.bin"), hex("01 02"));
    {
        std::ofstream(path("tape.kst")).close();
    }
    ASSERT_EQ(0, truncate(path("tape.kst").c_str(), off_t{4} << 30));
    fs::create_hard_link(path("tape.kst"), path("other.kst"));
    run_options limited;
    limited.address_space_limit = 256L << 20;
    const run_result result =
        run_cassmak({"-m", "game", "-o", path("tape.kst"), path("game.bin")}, limited);
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ(game_tape, read_file(path("other.kst")));
    EXPECT_EQ((std::set<std::string>{"game.bin", "other.kst", "tape.kst"}), names_in(dir.root()));
}

} // namespace

// A FIFO named as casstool's output is opened once and written: a reader
// that stops at the first end (as `cat` does) gets the bytes, where an open
// closed again before the write once sent it away empty-handed.
TEST(CasstoolOutput, AFifoTakesTheBytesInOneOpen)
{
    scratch_dir dir;
    const bytes image = concat({hex("03 00 01 02 03"), hex("01 00 41")});
    const std::string tape = dir.path("tape.kst");
    write_file(tape, image);
    const std::string fifo = dir.path("fifo");
    const struct {
        std::vector<std::string> args;
        bytes expected;
    } cases[] = {
        {{"join", "-q", "-o", fifo, tape, tape}, concat({image, image})},
        {{"extract", tape, "1", "-o", fifo}, hex("01 02 03")},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
        bytes first;
        bytes later;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            const int in = open(fifo.c_str(), O_RDONLY);
            std::uint8_t buffer[4096];
            for (ssize_t got = 0; (got = read(in, buffer, sizeof buffer)) > 0;)
                first.insert(first.end(), buffer, buffer + got);
            close(in);
            // A second open, if any, still finds a reader and ends.
            const int again = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (ssize_t got = 0; (got = read(again, buffer, sizeof buffer)) > 0;)
                later.insert(later.end(), buffer, buffer + got);
            close(again);
        });
        const run_result r = run_casstool(c.args);
        // A reader still waiting for a writer (a run that failed before it
        // opened the output) is let go.
        const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (unblock >= 0)
            close(unblock);
        done = true;
        reader.join();
        std::filesystem::remove(fifo);
        EXPECT_EQ(0, r.exit_code) << c.args[0] << ": " << r.err;
        EXPECT_EQ("", r.err) << c.args[0];
        EXPECT_EQ(c.expected, first) << c.args[0];
        EXPECT_TRUE(later.empty()) << c.args[0];
    }
}
