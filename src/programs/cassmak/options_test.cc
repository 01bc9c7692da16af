#include "programs/cassmak/options.h"

#include "programs/cassmak/status.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace cassmak::core;

TEST(ParseNumber, ReadsLikeStrtolWithAutomaticBase)
{
    // Past LONG_MAX strtol gives LONG_MAX: 2^32 is still a long where long
    // has 64 bits, not where it has 32 (Windows).
    constexpr long two_to_the_32 =
        LONG_MAX > 4294967295L ? static_cast<long>(4294967296LL) : LONG_MAX;
    struct {
        const char* text;
        long expected;
    } cases[] = {
        {"0", 0},         {"12345", 12345}, {"0x1234", 0x1234},
        {"0X1f", 0x1F},   {"01234", 668},   {"12abc", 12},
        {"1 ", 1},        {" 42", 42},      {"\t\n7", 7},
        {"+5", 5},        {"-0", 0},        {"", 0},
        {"65535", 65535}, {"65536", 65536}, {"4294967296", two_to_the_32},
        {"abc", -1},      {"08", -1},       {"0x", -1},
        {"-1", -1},       {"-0x10", -1},    {"0b101", -1},
        {"   ", -1},      {"+", -1},        {"-", -1},
        {"0 ", -1},       {"00", 0},        {"0x0", 0},
        {"0x0g", -1},     {"1x", 1},        {"99999999999999999999", LONG_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, parse_number(c.text)) << '"' << c.text << '"';
}

namespace {

struct parsed {
    int status;
    conversion_settings settings;
    std::string err;
};

// Parses and completes as a run does, keeping what went to standard error.
parsed parse(std::vector<const char*> args, bool complete = true)
{
    args.insert(args.begin(), "cassmak");
    parsed result{};
    testing::internal::CaptureStderr();
    result.status = parse_arguments(static_cast<int>(args.size()), args.data(), result.settings);
    if (result.status == 0 && complete)
        result.status = complete_settings(result.settings);
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

} // namespace

TEST(ParseArguments, StatusOfEachWalk)
{
    struct {
        std::vector<const char*> args;
        int status;
        const char* err;
    } cases[] = {
        {{}, -12, "Input file not specified!\nTry 'cassmak -h' for help.\n\n"},
        {{"-h"}, -1, ""},
        {{"-v"}, -2, ""},
        {{"x", "-v", "y", "z"}, -2, ""},
        {{"-hless", "-b", "-v"}, -2, ""},
        {{"-a", "70000", "-h"}, -15, "After '-a' must follow address in range 0 to 65535!\n\n"},
        {{"-a"}, -15, "After '-a' must follow address in range 0 to 65535!\n\n"},
        {{"-n", "100"}, -16, "After '-n' must follow file number in range 0 to 99!\n\n"},
        {{"-n"}, -16, "After '-n' must follow file number in range 0 to 99!\n\n"},
        {{"-t", "AB"}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", ""}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", " "}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", "\x7F"}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", "\x80"}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t", "\xFF"}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-t"}, -17, "After '-t' must follow file type as single ASCII character!\n\n"},
        {{"-m", "ABCDEFGHI"}, -18, "After '-m' must follow file name (max. 8 characters)!\n\n"},
        {{"-m"}, -18, "After '-m' must follow file name (max. 8 characters)!\n\n"},
        {{"-o"}, -14, "Only one output file can be specified!\n\n"},
        {{"-o", "a", "-o", "b"}, -14, "Only one output file can be specified!\n\n"},
        {{"a", "b"}, -13, "Only one input file can be specified!\n\n"},
        {{"", "b"}, -13, "Only one input file can be specified!\n\n"},
        {{"a", "b", "-h"}, -13, "Only one input file can be specified!\n\n"},
        {{"-hless", "-n", "1", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-hless", "-a", "0", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-hless", "-t", "X", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-hless", "-b", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-hless", "-b"}, -3, "Bad combination of options!\n\n"},
        {{"-b", "-a", "100", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-b", "-t", "X", "x"}, -3, "Bad combination of options!\n\n"},
        {{"-b", "-n", "5", "-m", "PROG", "x"}, 0, ""},
        {{"-hless", "-m", "X", "x"}, 0, ""},
        {{"-hless", "-o", "o", "-append", "x"}, 0, ""},
        {{"-n", "99", "-t", "A", "-m", "ABCDEFGH", "x"}, 0, ""},
        {{"-x"}, 0, ""},
    };
    for (const auto& c : cases) {
        parsed result = parse(c.args);
        std::string joined;
        for (const char* arg : c.args)
            joined += std::string(arg) + ' ';
        EXPECT_EQ(c.status, result.status) << joined;
        EXPECT_EQ(c.status, result.settings.status) << joined;
        EXPECT_EQ(c.err, result.err) << joined;
    }
}

TEST(ParseArguments, ValuesAndDefaults)
{
    struct {
        std::vector<const char*> args;
        const char* input;
        const char* output;
        long address;
        long number;
        char type;
        const char* name;
    } cases[] = {
        {{"game.bin"}, "game.bin", "game.bin.kst", 0, 0, '?', "game    "},
        {{"-b", "prog.bas"}, "prog.bas", "prog.bas.kst", 0x2401, 0, '>', "prog    "},
        {{"-a", "0x1234", "-n", "3", "x"}, "x", "x.kst", 4660, 3, '?', "x       "},
        {{"-a", "01234", "x"}, "x", "x.kst", 668, 0, '?', "x       "},
        {{"-a", "", "x"}, "x", "x.kst", 0, 0, '?', "x       "},
        {{"-a", "1", "-a", "2", "x"}, "x", "x.kst", 2, 0, '?', "x       "},
        {{"-t", "A", "-t", "B", "x"}, "x", "x.kst", 0, 0, 'B', "x       "},
        {{"-m", "a.b", "-o", "o.kst", "x"}, "x", "o.kst", 0, 0, '?', "a.b     "},
        {{"-m", "", "x"}, "x", "x.kst", 0, 0, '?', "        "},
        {{"-o", "-h", "game.bin"}, "game.bin", "-h", 0, 0, '?', "-h      "},
        {{"-m", "-v", "x"}, "x", "x.kst", 0, 0, '?', "-v      "},
        {{"-o", "", "x"}, "x", "", 0, 0, '?', "        "},
        {{""}, "", ".kst", 0, 0, '?', "        "},
        {{"-x"}, "-x", "-x.kst", 0, 0, '?', "-x      "},
        {{"-append", "-hless", "x"}, "x", "x.kst", 0, 0, '?', "x       "},
    };
    for (const auto& c : cases) {
        parsed result = parse(c.args);
        ASSERT_EQ(0, result.status) << c.input;
        EXPECT_EQ(c.input, *result.settings.input_path);
        EXPECT_EQ(c.output, *result.settings.output_path);
        EXPECT_EQ(c.address, result.settings.request.address) << c.input;
        EXPECT_EQ(c.number, result.settings.request.file_number) << c.input;
        EXPECT_EQ(c.type, result.settings.request.file_type) << c.input;
        EXPECT_EQ(c.name, result.settings.request.name) << c.input;
    }
    parsed flags = parse({"-append", "-hless", "x"});
    EXPECT_TRUE(flags.settings.append);
    EXPECT_TRUE(flags.settings.request.headless);
    EXPECT_FALSE(flags.settings.request.basic);
}

TEST(ParseArguments, LongInputPathGetsAWholeDefaultOutputPath)
{
    std::string input(4000, 'p');
    parsed result = parse({input.c_str()});
    ASSERT_EQ(0, result.status);
    EXPECT_EQ(input + ".kst", *result.settings.output_path);
}

TEST(DeriveName, TakesTheLastComponentCutAtItsLastDot)
{
    struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"game.bin.kst", "game    "},
        {"dir/mygame.bin.kst", "mygame  "},
        {"verylongname.bin.kst", "verylong"},
        {"a.b.c.kst", "a.b.c   "},
        {".bin.kst", ".bin    "},
        {"C:\\games\\x.kst", "x       "},
        {"a\\b/c.d", "c       "},
        {"out/", "        "},
        {"", "        "},
        {"abcdefgh.kst", "abcdefgh"},
        {"abcdefg.kst", "abcdefg "},
        {".kst", "        "},
        {"x.y/nodot", "nodot   "},
        {"back\\slash", "slash   "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.name, derive_name(c.path)) << c.path;
}
