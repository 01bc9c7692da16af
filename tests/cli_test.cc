// End-to-end: the built executable run on real files in a scratch folder.
#include "support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>


namespace {

const std::string banner =
    "cassmak " CASSMAK_VERSION " - packs a binary file or a BASIC program into a tape image\n";
const std::string usage =
    banner + "Usage: cassmak [options] infile.ext\n"
             "\nCommon options:\n"
             "  -o outfile.ext  output file name\n"
             "  -append\t  append at the end of the output file\n"
             "  -a address\t  begin address [0]\n"
             "  -n number\t  file number [0]\n"
             "  -t char\t  file type [?]\n"
             "  -m name\t  file name max. 8 chars [infile name]\n"
             "  -hless\t  store as headless block\n"
             "  -b\t\t  import BASIC program from TXT file\n"
             "  -h\t\t  usage information\n"
             "  -v\t\t  version info\n"
             "\nAll numeric parameters must be nonnegative integers and can be in three forms:\n"
             "  decimal (e.g. 12345)\n"
             "  octal (e.g. 01234)\n"
             "  hexadecimal (e.g. 0x1234)\n\n";

// The tape file of the two-byte payload 01 02 named GAME, number 0, type ?.
const bytes game_tape =
    concat({header_block("00 3F 00 00 01 00 47 41 4D 45 20 20 20 20 DA"), hex("03 00 01 02 03")});

class Cli : public testing::Test {
  protected:
    void SetUp() override
    {
        write_file(dir.path("game.bin"), hex("01 02"));
    }

    run_result run(const std::vector<std::string>& args, run_options options = {})
    {
        options.cwd = dir.root().string();
        return run_cassmak(args, options);
    }

    bytes file(const char* name) const
    {
        return read_file(dir.path(name));
    }
    bool exists(const char* name) const
    {
        return std::filesystem::exists(dir.path(name));
    }

    scratch_dir dir;
};

TEST_F(Cli, ConvertsABinaryFileIntoATapeFile)
{
    run_result result = run({"game.bin"});
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ(writing("game.bin.kst"), result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(game_tape, file("game.bin.kst"));
}

TEST_F(Cli, OptionsReachTheFileHead)
{
    struct {
        std::vector<std::string> args;
        const char* output;
        bytes expected;
    } cases[] = {
        {{"-n", "3", "-a", "0x1234", "-m", "demo", "game.bin"},
         "game.bin.kst",
         concat({header_block("03 3F 34 12 01 00 44 45 4D 4F 20 20 20 20 2E"),
                 hex("03 00 01 02 03")})},
        {{"-t", "B", "-a", "01234", "-o", "out.kst", "game.bin"},
         "out.kst",
         concat({header_block("00 42 9C 02 01 00 4F 55 54 20 20 20 20 20 79"),
                 hex("03 00 01 02 03")})},
        {{"-o", "-h", "game.bin"},
         "-h",
         concat({header_block("00 3F 00 00 01 00 2D 48 20 20 20 20 20 20 75"),
                 hex("03 00 01 02 03")})},
        {{"-hless", "-m", "X", "game.bin"}, "game.bin.kst", hex("02 00 01 02")},
        {{"-hless", "-o", "raw", "game.bin"}, "raw", hex("02 00 01 02")},
        {{"-b", "-b", "-hless", "-hless", "-append", "-append", "-o", "x", "-h"}, nullptr, {}},
    };
    for (const auto& c : cases) {
        run_result result = run(c.args);
        EXPECT_EQ(0, result.exit_code) << c.args[0];
        EXPECT_EQ("", result.err) << c.args[0];
        if (!c.output) {
            // Flags may repeat; the request still ends the walk at once.
            EXPECT_EQ(usage, result.out);
            continue;
        }
        EXPECT_EQ(writing(c.output), result.out);
        EXPECT_EQ(c.expected, file(c.output)) << c.output;
        std::filesystem::remove(dir.path(c.output));
    }
}

TEST_F(Cli, ReplacesOrAppends)
{
    write_file(dir.path("tape.kst"), hex("AA BB CC"));
    run_result replaced = run({"-o", "tape.kst", "-m", "game", "game.bin"});
    EXPECT_EQ(0, replaced.exit_code);
    EXPECT_EQ(game_tape, file("tape.kst"));

    run_result appended = run({"-append", "-o", "tape.kst", "-m", "game", "game.bin"});
    EXPECT_EQ(0, appended.exit_code);
    EXPECT_EQ(writing("tape.kst"), appended.out);
    EXPECT_EQ(concat({game_tape, game_tape}), file("tape.kst"));

    run_result headless = run({"-append", "-hless", "-o", "tape.kst", "game.bin"});
    EXPECT_EQ(0, headless.exit_code);
    EXPECT_EQ(concat({game_tape, game_tape, hex("02 00 01 02")}), file("tape.kst"));

    run_result created = run({"-append", "-o", "new.kst", "-m", "game", "game.bin"});
    EXPECT_EQ(0, created.exit_code);
    EXPECT_EQ(game_tape, file("new.kst"));
}

TEST_F(Cli, InputLengthBounds)
{
    write_file(dir.path("one.bin"), hex("7F"));
    write_file(dir.path("max.bin"), bytes(65533, 0x01));
    write_file(dir.path("over.bin"), bytes(65534, 0x01));
    write_file(dir.path("empty.bin"), bytes());

    run_result one = run({"-hless", "one.bin"});
    EXPECT_EQ(0, one.exit_code);
    EXPECT_EQ(hex("01 00 7F"), file("one.bin.kst"));

    run_result max = run({"max.bin"});
    EXPECT_EQ(0, max.exit_code);
    bytes tape = file("max.bin.kst");
    ASSERT_EQ(65601u, tape.size());
    // "max.bin.kst" cut at the last dot of its first 8 characters: "MAX.BIN ".
    EXPECT_TRUE(same_bytes(concat({header_block("00 3F 00 00 FC FF 4D 41 58 2E 42 49 4E 20 47"),
                                   hex("FE FF"), bytes(65533, 0x01), hex("FD")}),
                           tape));

    run_result max_headless = run({"-hless", "-o", "h.kst", "max.bin"});
    EXPECT_EQ(0, max_headless.exit_code);
    EXPECT_EQ(65535u, file("h.kst").size());

    for (const char* name : {"over.bin", "empty.bin"}) {
        run_result refused = run({name});
        EXPECT_EQ(7, refused.exit_code) << name;
        EXPECT_EQ("", refused.out) << name;
        EXPECT_EQ("Length of the input file '" + std::string(name) +
                      "' must be in range 1 to 65533 bytes!\n\n",
                  refused.err);
    }
    EXPECT_FALSE(exists("over.bin.kst"));
    EXPECT_FALSE(exists("empty.bin.kst"));
}

TEST_F(Cli, RequestsPrintInsteadOfConverting)
{
    struct {
        std::vector<std::string> args;
        const std::string& out;
    } cases[] = {
        {{"-h"}, usage},
        {{"-v"}, banner},
        {{"game.bin", "-h"}, usage},
        {{"-n", "5", "-v", "-n", "500"}, banner},
        {{"-hless", "-b", "-v"}, banner},
        {{"-v", "-h"}, banner},
        {{"-o", "x", "-h", "-o", "y"}, usage},
    };
    for (const auto& c : cases) {
        run_result result = run(c.args);
        EXPECT_EQ(0, result.exit_code) << c.args[0];
        EXPECT_EQ(c.out, result.out) << c.args[0];
        EXPECT_EQ("", result.err) << c.args[0];
    }
    EXPECT_FALSE(exists("game.bin.kst"));
    EXPECT_FALSE(exists("x"));
}

TEST_F(Cli, CommandLineFailures)
{
    const std::string help = "Input file not specified!\nTry 'cassmak -h' for help.\n\n";
    const std::string combo = "Bad combination of options!\n\n";
    const std::string address = "After '-a' must follow address in range 0 to 65535!\n\n";
    struct {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
    } cases[] = {
        {{}, 12, help},
        {{"-n", "1"}, 12, help},
        {{"-hless", "-n", "1", "game.bin"}, 3, combo},
        {{"-hless", "-a", "0", "game.bin"}, 3, combo},
        {{"-hless", "-b"}, 3, combo},
        {{"-b", "-a", "100", "game.bin"}, 3, combo},
        {{"-b", "-t", "X", "game.bin"}, 3, combo},
        {{"-hless", "-t", "X", "game.bin"}, 3, combo},
        {{"game.bin", "other.bin"}, 13, "Only one input file can be specified!\n\n"},
        {{"", "game.bin"}, 13, "Only one input file can be specified!\n\n"},
        {{"-o"}, 14, "Only one output file can be specified!\n\n"},
        {{"-o", "a", "-o", "b", "game.bin"}, 14, "Only one output file can be specified!\n\n"},
        {{"-a", "70000", "-h"}, 15, address},
        {{"-a", "0x", "game.bin"}, 15, address},
        {{"-a", "08", "game.bin"}, 15, address},
        {{"-a", "-1", "game.bin"}, 15, address},
        {{"-a", "65536", "game.bin"}, 15, address},
        {{"-a", "4294967296", "game.bin"}, 15, address},
        {{"-a", "0b101", "game.bin"}, 15, address},
        {{"game.bin", "-a"}, 15, address},
        {{"-n", "100", "game.bin"}, 16, "After '-n' must follow file number in range 0 to 99!\n\n"},
        {{"-t", "AB", "game.bin"},
         17,
         "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", "", "game.bin"},
         17,
         "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-m", "ABCDEFGHI", "game.bin"},
         18,
         "After '-m' must follow file name (max. 8 characters)!\n\n"},
    };
    for (const auto& c : cases) {
        run_result result = run(c.args);
        std::string joined;
        for (const std::string& arg : c.args)
            joined += arg + ' ';
        EXPECT_EQ(c.exit_code, result.exit_code) << joined;
        EXPECT_EQ(c.err, result.err) << joined;
        EXPECT_EQ("", result.out) << joined;
    }
    EXPECT_FALSE(exists("game.bin.kst"));
}

TEST_F(Cli, FileFailures)
{
    std::filesystem::create_directory(dir.path("folder"));
    struct {
        std::vector<std::string> args;
        bool pipe_on_stdin;
        int exit_code;
        std::string err;
    } cases[] = {
        {{"missing.bin"}, false, 4, "Can't open input file 'missing.bin'!\n\n"},
        {{""}, false, 4, "Can't open input file ''!\n\n"},
        {{"folder"}, false, 4, "Can't open input file 'folder'!\n\n"},
        {{"-o", "no/dir/x.kst", "game.bin"},
         false,
         9,
         "Can't open output file 'no/dir/x.kst'!\n\n"},
        {{"-o", "", "game.bin"}, false, 9, "Can't open output file ''!\n\n"},
        {{"-o", "folder", "game.bin"}, false, 9, "Can't open output file 'folder'!\n\n"},
        {{"-append", "-o", "folder", "game.bin"}, false, 9, "Can't open output file 'folder'!\n\n"},
    };
    for (const auto& c : cases) {
        run_options options;
        options.stdin_pipe = c.pipe_on_stdin;
        run_result result = run(c.args, options);
        const std::string& what = c.args.back();
        EXPECT_EQ(c.exit_code, result.exit_code) << what;
        EXPECT_EQ(c.err, result.err) << what;
        // Output failures come after the announcement, input failures before it.
        const std::string& output = c.args[c.args.size() - 2];
        EXPECT_EQ(c.exit_code >= 9 ? writing(output) : "", result.out) << what;
    }
    EXPECT_FALSE(exists("x.kst"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("folder")));
}

TEST_F(Cli, StreamsThatCannotBePositioned)
{
    // A pipe as the input, and as the output without -append.
    SKIP_IF_MISSING(unix_devices_missing());
    run_options piped;
    piped.stdin_pipe = true;
    run_result input = run({"-o", "x.kst", "/dev/stdin"}, piped);
    EXPECT_EQ(5, input.exit_code);
    EXPECT_EQ("Can't access input file '/dev/stdin'!\n\n", input.err);
    EXPECT_EQ("", input.out);
    run_result output = run({"-o", "/dev/stdout", "game.bin"});
    EXPECT_EQ(10, output.exit_code);
    EXPECT_EQ("Can't access output file '/dev/stdout'!\n\n", output.err);
    EXPECT_EQ(writing("/dev/stdout"), output.out);
    EXPECT_FALSE(exists("x.kst"));
}

TEST_F(Cli, ShortReadIsAFailure)
{
    // sysfs files claim 4096 bytes but yield only their few bytes of text.
    const std::string input = "/sys/devices/system/cpu/online";
    if (!std::filesystem::exists(input))
        GTEST_SKIP() << input << " is not here";
    run_result result = run({"-o", "x.kst", input});
    EXPECT_EQ(8, result.exit_code);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("Can't read from the input file '" + input + "'!\n\n", result.err);
    EXPECT_FALSE(exists("x.kst"));
}

TEST_F(Cli, AppendingToAPipeWritesTheImage)
{
    SKIP_IF_MISSING(unix_devices_missing());
    // stdout is a pipe here: without -append it cannot be positioned (see
    // above), with -append the image goes down it after the announcement.
    run_result result = run({"-append", "-m", "game", "-o", "/dev/stdout", "game.bin"});
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ("", result.err);
    bytes expected = concat({to_bytes(writing("/dev/stdout")), game_tape});
    EXPECT_EQ(expected, to_bytes(result.out));
}

TEST_F(Cli, FailingInputLeavesTheOutputUntouched)
{
    const bytes old = hex("01 02 03 04");
    write_file(dir.path("keep.kst"), old);
    write_file(dir.path("empty.bin"), bytes());
    for (std::vector<std::string> args : {std::vector<std::string>{"-o", "keep.kst", "missing.bin"},
                                          {"-o", "keep.kst", "empty.bin"},
                                          {"-append", "-o", "keep.kst", "empty.bin"},
                                          {"-o", "keep.kst", "-a", "65536", "game.bin"}}) {
        run_result result = run(args);
        EXPECT_NE(0, result.exit_code);
        EXPECT_EQ(old, file("keep.kst")) << args.back();
    }
}

TEST_F(Cli, FailedWriteLeavesNoTornImage)
{
    SKIP_IF_MISSING(file_size_limit_missing());
    // The file size limit lets 10 bytes past an appended-to image through,
    // then the write fails part-way through the image, large or small; an
    // image that replaces is refused after its first 10 bytes.
    write_file(dir.path("big.bin"), bytes(65533, 0x33));
    const bytes old(1000, 0x77);
    struct {
        const char* input;
        bool append;
        bool existed;
    } cases[] = {
        {"big.bin", true, true},   {"big.bin", false, true},   {"big.bin", true, false},
        {"big.bin", false, false}, {"game.bin", true, true},   {"game.bin", false, true},
        {"game.bin", true, false}, {"game.bin", false, false},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.input) + (c.append ? " -append" : "") +
                                 (c.existed ? " over an image" : " to a new file");
        std::filesystem::remove(dir.path("tape.kst"));
        if (c.existed)
            write_file(dir.path("tape.kst"), old);
        run_options limited;
        limited.file_size_limit = (c.append && c.existed ? 1000 : 0) + 10;
        std::vector<std::string> args = {"-o", "tape.kst", c.input};
        if (c.append)
            args.insert(args.begin(), "-append");
        run_result result = run(args, limited);
        EXPECT_EQ(11, result.exit_code) << what;
        EXPECT_EQ(writing("tape.kst"), result.out) << what;
        EXPECT_EQ("Can't write to the output file 'tape.kst'!\n\n", result.err) << what;
        if (c.existed)
            EXPECT_EQ(old, file("tape.kst")) << what;
        else
            EXPECT_FALSE(exists("tape.kst")) << what;
    }
}

TEST_F(Cli, FailedWriteThroughALinkKeepsTheLink)
{
    SKIP_IF_MISSING(file_size_limit_missing());
    SKIP_IF_MISSING(symbolic_links_missing());
    write_file(dir.path("big.bin"), bytes(65533, 0x33));
    const bytes old(1000, 0x77);
    write_file(dir.path("target.kst"), old);
    std::filesystem::create_symlink("target.kst", dir.path("link.kst"));
    run_options limited;
    limited.file_size_limit = 1010;

    run_result appended = run({"-append", "-o", "link.kst", "big.bin"}, limited);
    EXPECT_EQ(11, appended.exit_code);
    EXPECT_EQ(old, file("target.kst"));

    limited.file_size_limit = 10;
    run_result replaced = run({"-o", "link.kst", "big.bin"}, limited);
    EXPECT_EQ(11, replaced.exit_code);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("link.kst")));
    EXPECT_EQ(old, file("target.kst"));
}

TEST_F(Cli, FullDeviceIsAWriteFailure)
{
    SKIP_IF_MISSING(unix_devices_missing());
    write_file(dir.path("big.bin"), bytes(65533, 0x33));
    for (const char* input : {"game.bin", "big.bin"}) {
        for (bool append : {false, true}) {
            std::vector<std::string> args = {"-o", "/dev/full", input};
            if (append)
                args.insert(args.begin(), "-append");
            run_result result = run(args);
            EXPECT_EQ(11, result.exit_code) << input << append;
            EXPECT_EQ(writing("/dev/full"), result.out);
            EXPECT_EQ("Can't write to the output file '/dev/full'!\n\n", result.err);
        }
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

TEST_F(Cli, LostUsageOrBannerIsAFailure)
{
    SKIP_IF_MISSING(unix_devices_missing());
    for (const char* request : {"-h", "-v"}) {
        const std::string err = dir.path("err.txt");
        const std::string command =
            std::string(cassmak_path) + " " + request + " >/dev/full 2>" + err;
        EXPECT_EQ(20, run_shell(command)) << request;
        const bytes message = read_file(err);
        EXPECT_EQ("Can't write to the standard output!\n\n",
                  std::string(message.begin(), message.end()))
            << request;
    }
}

TEST_F(Cli, LongInputPathGetsItsDefaultOutput)
{
    std::string folder;
    for (int i = 0; i < 40; ++i)
        folder += "folder" + std::to_string(i) + "/";
    std::filesystem::create_directories(dir.path(folder));
    std::string input = folder + "game.bin";
    ASSERT_GT(input.size(), 300u);
    write_file(dir.path(input), hex("01 02"));
    run_result result = run({input});
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ(writing(input + ".kst"), result.out);
    EXPECT_EQ(game_tape, read_file(dir.path(input + ".kst")));
}

} // namespace
