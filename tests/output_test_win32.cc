// End-to-end on Windows: the output file when a write races other runs, is
// refused, or its run is ended at any moment. Where Windows has no way to
// cause a case, the test says so.
#include "io/files.h"
#include "support.h"
#include "tape/blocks.h"
#include "tape/limits.h"
#include "tape/reader.h"
#include "whole_image.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

using namespace cassmak::core;

namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::wstring wide(const std::string& text)
{
    return fs::u8path(text).wstring();
}

// Starts a built tool in `cwd` without waiting, its streams on NUL.
HANDLE start_tool(const char* relative, const std::string& cwd,
                  const std::vector<std::string>& args)
{
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    const std::wstring exe = (fs::path(own).parent_path() / relative).wstring();
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::string& arg : args)
        line += L" " + wide(arg); // the tests' words hold no spaces or quotes
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE null =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = start.hStdOutput = start.hStdError = null;
    PROCESS_INFORMATION process{};
    const std::wstring folder = wide(cwd);
    const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.c_str(), &start, &process);
    CloseHandle(null);
    if (!started) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The exit code once the process has ended.
int finish(HANDLE process)
{
    if (!process)
        return -1;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return static_cast<int>(code);
}

class Output : public testing::Test {
  protected:
    std::string path(const std::string& name) const
    {
        return dir.path(name);
    }
    HANDLE start_cassmak(const std::vector<std::string>& args) const
    {
        return start_tool(CASSMAK_EXE, dir.root().string(), args);
    }
    HANDLE start_casstool(const std::vector<std::string>& args) const
    {
        return start_tool(CASSTOOL_EXE, dir.root().string(), args);
    }

    scratch_dir dir;
};

const bytes old_image(1000, 0x77);

const bytes game_tape =
    concat({header_block("00 3F 00 00 01 00 47 41 4D 45 20 20 20 20 DA"), hex("03 00 01 02 03")});

TEST_F(Output, FailedWritesUnderASizeLimitLoseNothing)
{
    SKIP_IF_MISSING(file_size_limit_missing());
}

TEST_F(Output, FailedWritesOnAFullDeviceLoseNothing)
{
    GTEST_SKIP() << "a test under Wine can neither make nor fill a small volume";
}

TEST_F(Output, SizeLimitIsAFailureNotASignal)
{
    SKIP_IF_MISSING(file_size_limit_missing());
}

TEST_F(Output, ReplaceKeepsLinksModeAndOwner)
{
    // Windows has no owner to keep; the attributes and a second name stay.
    write_file(path("game.bin"), hex("01 02"));
    write_file(path("tape.kst"), old_image);
    ASSERT_TRUE(SetFileAttributesA(path("tape.kst").c_str(), FILE_ATTRIBUTE_HIDDEN));
    write_file(path("one.kst"), old_image);
    fs::create_hard_link(path("one.kst"), path("two.kst"));
    for (const char* name : {"tape.kst", "one.kst"}) {
        const run_result result = run_cassmak({"-o", path(name), "-m", "game", path("game.bin")});
        EXPECT_EQ(0, result.exit_code) << name << result.err;
        EXPECT_TRUE(same_bytes(game_tape, read_file(path(name)))) << name;
    }
    EXPECT_TRUE(GetFileAttributesA(path("tape.kst").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(same_bytes(game_tape, read_file(path("two.kst"))));
    // An append keeps them too.
    EXPECT_EQ(
        0,
        run_cassmak({"-append", "-o", path("one.kst"), "-m", "game", path("game.bin")}).exit_code);
    EXPECT_TRUE(same_bytes(concat({game_tape, game_tape}), read_file(path("two.kst"))));
    EXPECT_EQ(
        0,
        run_cassmak({"-append", "-o", path("tape.kst"), "-m", "game", path("game.bin")}).exit_code);
    EXPECT_TRUE(GetFileAttributesA(path("tape.kst").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ((std::set<std::string>{"game.bin", "one.kst", "tape.kst", "two.kst"}),
              names_in(dir.root()));
}

TEST_F(Output, ReadOnlyFileIsRefusedAndUntouched)
{
    write_file(path("game.bin"), hex("01 02"));
    for (bool append : {false, true}) {
        write_file(path("tape.kst"), old_image);
        ASSERT_TRUE(SetFileAttributesA(path("tape.kst").c_str(), FILE_ATTRIBUTE_READONLY));
        std::vector<std::string> args = {"-o", "tape.kst", "game.bin"};
        if (append)
            args.insert(args.begin(), "-append");
        run_options options;
        options.cwd = dir.root().string();
        const run_result result = run_cassmak(args, options);
        EXPECT_EQ(9, result.exit_code) << append;
        EXPECT_EQ("Can't open output file 'tape.kst'!\n\n", result.err);
        EXPECT_EQ(old_image, read_file(path("tape.kst"))) << append;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
        SetFileAttributesA(path("tape.kst").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(Output, FileOpenElsewhereWithoutSharingIsRefusedAndUntouched)
{
    // Another program that keeps the file open and does not let others write
    // or delete it (as many editors and viewers do) refuses every change.
    write_file(path("game.bin"), hex("01 02"));
    write_file(path("tape.kst"), game_tape);
    const std::string tape = path("tape.kst");
    for (DWORD sharing : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        HANDLE held = CreateFileW(wide(tape).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        for (bool append : {false, true}) {
            std::vector<std::string> args = {"-o", tape, path("game.bin")};
            if (append)
                args.insert(args.begin(), "-append");
            const run_result result = run_cassmak(args);
            EXPECT_EQ(9, result.exit_code) << sharing << append;
            EXPECT_EQ("Can't open output file '" + tape + "'!\n\n", result.err);
        }
        const run_result rm = run_casstool({"rm", tape, "1"});
        EXPECT_EQ(2, rm.exit_code);
        EXPECT_EQ("casstool: " + tape +
                      ": cannot be updated: Permission denied; it is left as it was\n",
                  rm.err);
        CloseHandle(held);
        EXPECT_EQ(game_tape, read_file(tape)) << sharing;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
    }
}

TEST_F(Output, OutputThatIsStdoutOrTheInput)
{
    // The input as the output: it is read whole before it is replaced.
    // (Standard output sent to a file has no path to name on Windows.)
    write_file(path("game.bin"), hex("01 02"));
    run_options options;
    options.cwd = dir.root().string();
    EXPECT_EQ(0, run_cassmak({"-o", "game.bin", "-m", "game", "game.bin"}, options).exit_code);
    EXPECT_EQ(game_tape, read_file(path("game.bin")));
    EXPECT_EQ((std::set<std::string>{"game.bin"}), names_in(dir.root()));
}

std::multiset<int> each_run(int runs)
{
    std::multiset<int> each;
    for (int run = 0; run < runs; ++run)
        each.insert(run);
    return each;
}

TEST_F(Output, ConcurrentAppendsStayWhole)
{
    constexpr int runs = 20;
    write_file(path("game.bin"), bytes(30000, 0x42));
    for (int round = 0; round < 2; ++round) {
        fs::remove(path("tape.kst"));
        std::vector<HANDLE> children;
        for (int run = 0; run < runs; ++run)
            children.push_back(start_cassmak(
                {"-append", "-o", "tape.kst", "-n", std::to_string(run), "game.bin"}));
        for (int run = 0; run < runs; ++run)
            EXPECT_EQ(0, finish(children[run])) << round << " " << run;
        const bytes image = read_file(path("tape.kst"));
        // Each append is one tape file of 65 + 2 + 30000 + 1 bytes.
        ASSERT_EQ(runs * 30068U, image.size()) << round;
        std::multiset<int> numbers;
        for (const tape_entry& entry : read_tape_image(image.data(), image.size())) {
            EXPECT_TRUE(entry.problem.empty()) << round << ": " << entry.problem;
            numbers.insert(entry.number);
        }
        EXPECT_EQ(each_run(runs), numbers) << round;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
    }
}

TEST_F(Output, InterruptWhileWaitingForTheLockChangesNothing)
{
    // Under Wine a test cannot send Ctrl-C to one process of its own (that
    // needs a console), so a run waiting for the lock is ended from outside.
    // The lock is the one byte that every change of the file locks.
    write_file(path("game.bin"), hex("01 02"));
    for (bool append : {true, false}) {
        write_file(path("tape.kst"), old_image);
        HANDLE held = CreateFileW(wide(path("tape.kst")).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        OVERLAPPED where{};
        where.OffsetHigh = 0x7FFFFFFF;
        ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where));
        std::vector<std::string> args = {"-o", "tape.kst", "game.bin"};
        if (append)
            args.insert(args.begin(), "-append");
        HANDLE child = start_cassmak(args);
        ASSERT_NE(nullptr, child);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(child, 1500)) << append;
        TerminateProcess(child, 130);
        EXPECT_EQ(130, finish(child));
        UnlockFileEx(held, 0, 1, 0, &where);
        CloseHandle(held);
        EXPECT_EQ(old_image, read_file(path("tape.kst"))) << append;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
    }
}

// Ends the run started by `start` after a random moment within about its
// usual run time, many times over; each time `check` looks at what is left.
template <typename Start, typename Check>
void end_at_random_moments(int rounds, unsigned seed, const Start& start, const Check& check)
{
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, finish(start(-1)));
    const auto run_time = std::chrono::steady_clock::now() - begin;
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(run_time).count() * 5 / 4);
    for (int i = 0; i < rounds; ++i) {
        HANDLE child = start(i);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        TerminateProcess(child, 137);
        check(i, finish(child));
    }
}

// TerminateProcess cannot be held, as SIGKILL cannot: the file at the path is
// the old image or the new one, and the run's temporary file may be left
// (removed here). Between the two renames of a replace the old image has
// been moved aside under a name of the run's own and nothing is at the path;
// a run ended there leaves it in that file, whole.
void check_old_or_new(const scratch_dir& dir, const std::string& what, const bytes& old,
                      const bytes& written, int code, const std::set<std::string>& keep,
                      int& moved_aside)
{
    const std::string tape = dir.path("tape.kst");
    bool old_found = false;
    for (const std::string& name : names_in(dir.root()))
        if (!keep.count(name) && name != "tape.kst") {
            old_found = old_found || read_file(dir.path(name)) == old;
            fs::remove(dir.path(name));
        }
    if (!fs::exists(tape)) {
        EXPECT_TRUE(old_found) << what << ": no image at the path and the old one not aside";
        ++moved_aside;
        return;
    }
    const bytes now = read_file(tape);
    EXPECT_TRUE(now == written || (code != 0 && now == old))
        << what << ", exit " << code << ", " << now.size() << " bytes";
}

TEST_F(Output, TerminatedAtAnyMomentLeavesOldOrNewImage)
{
    write_file(path("big.bin"), bytes(65533, 0x33));
    ASSERT_EQ(0, finish(start_cassmak({"-m", "tape", "-o", "fresh.kst", "big.bin"})));
    const bytes fresh = read_file(path("fresh.kst"));
    fs::remove(path("fresh.kst"));
    int moved_aside = 0;
    end_at_random_moments(
        48, 8,
        [&](int i) {
            write_file(path("tape.kst"), old_image);
            std::vector<std::string> args = {"-m", "tape", "-o", "tape.kst", "big.bin"};
            if (i % 2 == 1)
                args.insert(args.begin(), "-append");
            return i < 0 ? start_cassmak({"-m", "tape", "-o", "tape.kst", "big.bin"})
                         : start_cassmak(args);
        },
        [&](int i, int code) {
            const bool append = i % 2 == 1;
            check_old_or_new(dir, std::to_string(i) + (append ? " -append" : ""), old_image,
                             append ? concat({old_image, fresh}) : fresh, code, {"big.bin"},
                             moved_aside);
        });
    RecordProperty("moved_aside", moved_aside);
}

TEST_F(Output, UpdatesRacingAppendsLoseNothing)
{
    // casstool rm is the update here: twenty of them each take away the
    // first entry of an image that starts with twenty headless blocks, while
    // twenty appends add their files at its end.
    constexpr int runs = 20;
    write_file(path("game.bin"), bytes(30000, 0x42));
    for (int round = 0; round < 2; ++round) {
        bytes start;
        for (int run = 0; run < runs; ++run) {
            const bytes tag(3, static_cast<std::uint8_t>(run));
            put_headless_block(start, tag.data(), static_cast<int>(tag.size()));
        }
        write_file(path("tape.kst"), start);
        std::vector<HANDLE> appends;
        std::vector<HANDLE> updates;
        for (int run = 0; run < runs; ++run) {
            appends.push_back(start_cassmak(
                {"-append", "-o", "tape.kst", "-n", std::to_string(run), "game.bin"}));
            updates.push_back(start_casstool({"rm", "-q", "tape.kst", "1"}));
        }
        for (int run = 0; run < runs; ++run) {
            EXPECT_EQ(0, finish(appends[run])) << round << " " << run;
            EXPECT_EQ(0, finish(updates[run])) << round << " " << run;
        }
        const bytes image = read_file(path("tape.kst"));
        std::multiset<int> numbers;
        int headless = 0;
        for (const tape_entry& entry : read_tape_image(image.data(), image.size())) {
            EXPECT_TRUE(entry.problem.empty()) << round << ": " << entry.problem;
            if (entry.kind == entry_kind::file)
                numbers.insert(entry.number);
            else
                ++headless;
        }
        EXPECT_EQ(each_run(runs), numbers) << round;
        EXPECT_EQ(0, headless) << round;
        EXPECT_EQ((std::set<std::string>{"game.bin", "tape.kst"}), names_in(dir.root()));
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
    const image_transform keep = whole_image(
        [](const std::vector<std::uint8_t>& old, bool, std::vector<std::uint8_t>& updated) {
            updated = old;
            return true;
        });
    EXPECT_EQ(write_outcome::open_failed,
              update_output(path("missing.kst"), false, largest_image, keep).outcome);
    EXPECT_EQ((std::set<std::string>{"tape.kst"}), names_in(dir.root()));
    EXPECT_EQ(write_outcome::open_failed,
              update_output(dir.root().string(), false, largest_image, keep).outcome);
}

TEST_F(Output, UpdateKilledAtAnyMomentLeavesOldOrNewImage)
{
    // About 4 MiB, so that the write takes a while: casstool rm takes the
    // first of 64 blocks away.
    const bytes tag(65535, 0x5A);
    bytes old;
    for (int i = 0; i < 64; ++i)
        put_headless_block(old, tag.data(), static_cast<int>(tag.size()));
    old.insert(old.end(), old_image.begin(), old_image.end());
    const bytes updated(old.begin() + 65537, old.end());
    int moved_aside = 0;
    end_at_random_moments(
        32, 14,
        [&](int) {
            write_file(path("tape.kst"), old);
            return start_casstool({"rm", "-q", "tape.kst", "1"});
        },
        [&](int i, int code) {
            check_old_or_new(dir, std::to_string(i), old, updated, code, {}, moved_aside);
        });
    RecordProperty("moved_aside", moved_aside);
}

// The POSIX write path's own cases, which have no Windows counterpart.
TEST_F(Output, AclsAndExtendedAttributesAreKept)
{
    GTEST_SKIP() << "POSIX ACLs and extended attributes (setfacl, setfattr) are not Windows'";
}

TEST_F(Output, HugeHardLinkedOutputIsRewrittenWithinBoundedMemory)
{
    SKIP_IF_MISSING(address_space_limit_missing());
}

TEST_F(Output, InPlaceRewriteKilledLeavesWhatTheManualSays)
{
    GTEST_SKIP() << "no output is rewritten in place on Windows: every change replaces the file";
}

TEST_F(Output, KilledAtAnyMomentLeavesOldOrNewImage)
{
    SKIP_IF_MISSING(symbolic_links_missing());
}

TEST_F(Output, LinkSwappedInDuringARunRedirectsNothing)
{
    GTEST_SKIP() << "needs root and a second user, and symbolic links, which Wine does not make";
}

TEST_F(Output, WithoutLocksAFailedAppendCutsNoOtherRunsFile)
{
    GTEST_SKIP() << "needs LD_PRELOAD to take the locks away, which Windows does not have";
}

} // namespace
