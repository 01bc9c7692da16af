// End-to-end runs of -b: BASIC sources on disk through to the tape file.
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>


namespace {

const std::string begin = "Importing BASIC program...\n";
const std::string done = "\rDone.\t\t\n";

// A BASIC tape file as the machine expects it, checksums worked out here.
bytes basic_tape(const bytes& image, std::uint8_t number, std::string_view name)
{
    const std::size_t last = image.size() - 1;
    bytes head = {number,
                  '>',
                  0x01,
                  0x24,
                  static_cast<std::uint8_t>(last & 0xFF),
                  static_cast<std::uint8_t>(last >> 8)};
    for (std::size_t i = 0; i < 8; ++i)
        head.push_back(static_cast<std::uint8_t>(i < name.size() ? name[i] : ' '));
    auto sum = [](const bytes& b) {
        return static_cast<std::uint8_t>(std::accumulate(b.begin(), b.end(), 0u) & 0xFF);
    };
    const std::size_t data = image.size() + 1;
    return concat({hex("3F 00 FF*16 00*16 55*16"),
                   head,
                   {sum(head)},
                   {static_cast<std::uint8_t>(data & 0xFF), static_cast<std::uint8_t>(data >> 8)},
                   image,
                   {sum(image)}});
}

class BasicCli : public testing::Test {
  protected:
    run_result run(const std::vector<std::string>& args)
    {
        run_options options;
        options.cwd = dir.root().string();
        options.stdin_pipe = true;
        return run_cassmak(args, options);
    }

    // Converts `source` with -b into out.kst and returns the result.
    run_result convert(std::string_view source, std::vector<std::string> extra = {})
    {
        write_file(dir.path("prog.bas"), source);
        std::vector<std::string> args = {"-b", "-o", "out.kst"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("prog.bas");
        return run(args);
    }

    bytes output() const
    {
        return read_file(dir.path("out.kst"));
    }

    scratch_dir dir;
};

TEST_F(BasicCli, OneLineProgramGivesTheWholeTapeFile)
{
    write_file(dir.path("hi.bas"), "10 PRINT \"HI\"\r\n");
    run_result result = run({"-b", "-o", "hi.kst", "hi.bas"});
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(begin + "\rLine: 10" + done + writing("hi.kst"), result.out);
    bytes expected = concat({header_block("00 3E 01 24 0C 00 48 49 20 20 20 20 20 20 C0"),
                             hex("0E 00 0C 24 0A 00 96 20 22 48 49 22 00 00 00 C5")});
    ASSERT_EQ(81u, expected.size());
    EXPECT_TRUE(same_bytes(expected, read_file(dir.path("hi.kst"))));
}

TEST_F(BasicCli, ProgramsThroughToTheTape)
{
    struct {
        const char* what;
        std::string_view source;
        const char* image;
        std::string out;
    } cases[] = {
        {"linked lines, last without a break", "10 PRINT \"HI\"\n20 GOTO 10",
         "0C 24 0A 00 96 20 22 48 49 22 00 15 24 14 00 88 20 31 30 00 00 00",
         "\rLine: 10\rLine: 20"},
        {"CR LF and empty lines", "\r\n10 A=1\r\n\r\n\r\n20 B=2\r\n",
         "09 24 0A 00 41 AC 31 00 11 24 14 00 42 AC 32 00 00 00", "\rLine: 10\rLine: 20"},
        {"NUL bytes",
         std::string_view("10 A\0junk\n\0"
                          "20 B\n30 C\n",
                          21),
         "07 24 0A 00 41 00 0D 24 1E 00 43 00 00 00",
         "\rLine: 10\tLine is short. Possible problem!\n"
         "\rLine: 30\tLine is short. Possible problem!\n"},
        {"leading spaces give number 0", "   10 PRINT\n", "0A 24 00 00 31 30 20 96 00 00 00",
         "\rLine: 0"},
        {"out of order and repeated lines stay", "20 A=1\n10 B=2\n10 C=3\n",
         "09 24 14 00 41 AC 31 00 11 24 0A 00 42 AC 32 00 19 24 0A 00 43 AC 33 00 00 00",
         "\rLine: 20\rLine: 10\tWrong order of line. Last line 20\n\rLine: 10"},
        {"only empty lines", "\r\n\r\n\n\n", "00 00", ""},
        {"huge line number", "99999999999 END\n", "07 24 FF E7 80 00 00 00", "\rLine: 1215752191"},
        {"line number past 2^31", "3000000000 END\n", "07 24 00 5E 80 00 00 00",
         "\rLine: -1294967296\tWrong order of line. Last line 0\n"},
        {"keywords, strings, DATA and REM", "10 FOR I=1 TO 9:DATA \"A:B\",C:REM X:Y\n",
         "1F 24 0A 00 81 20 49 AC 31 20 9E 20 39 3A 83 20 22 41 3A 42 22 2C 43 3A 8E 20 58 3A 59 "
         "00 00 00",
         "\rLine: 10"},
    };
    for (const auto& c : cases) {
        run_result result = convert(c.source);
        EXPECT_EQ(0, result.exit_code) << c.what;
        EXPECT_EQ("", result.err) << c.what;
        EXPECT_EQ(begin + c.out + done + writing("out.kst"), result.out) << c.what;
        EXPECT_TRUE(same_bytes(basic_tape(hex(c.image), 0, "OUT"), output())) << c.what;
    }
}

TEST_F(BasicCli, NumberAndNameAndAppend)
{
    write_file(dir.path("tape.kst"), hex("AA"));
    write_file(dir.path("p.bas"), "10 END\n");
    run_result result = run({"-b", "-n", "5", "-m", "prog", "-append", "-o", "tape.kst", "p.bas"});
    EXPECT_EQ(0, result.exit_code);
    bytes image = hex("07 24 0A 00 80 00 00 00");
    EXPECT_TRUE(same_bytes(concat({hex("AA"), basic_tape(image, 5, "PROG")}),
                           read_file(dir.path("tape.kst"))));

    // Without -o and -m the name comes from the default output path.
    run_result derived = run({"-b", "p.bas"});
    EXPECT_EQ(0, derived.exit_code);
    EXPECT_EQ(begin + "\rLine: 10" + done + writing("p.bas.kst"), derived.out);
    EXPECT_TRUE(same_bytes(basic_tape(image, 0, "P.BAS"), read_file(dir.path("p.bas.kst"))));
}

TEST_F(BasicCli, LongLineIsTakenInPieces)
{
    std::string source = "10 REM " + std::string(123, 'X') + "\n";
    run_result result = convert(source);
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ(begin + "\rLine: 10\tLine is long. Possible problem!\n" +
                  "\rLine: 0\tWrong order of line. Last line 10\n" + done + writing("out.kst"),
              result.out);
    bytes image = concat(
        {hex("7F 24 0A 00 8E 20"), bytes(119, 0x58), hex("00 88 24 00 00 58 58 58 58 00 00 00")});
    EXPECT_TRUE(same_bytes(basic_tape(image, 0, "OUT"), output()));
}

TEST_F(BasicCli, SourceLengthBounds)
{
    run_result four = convert("1 A\n");
    EXPECT_EQ(7, four.exit_code);
    EXPECT_EQ("", four.out);
    EXPECT_EQ("Length of the input file 'prog.bas' must be in range 5 to 65535 bytes!\n\n",
              four.err);
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.kst")));

    run_result five = convert("1 AB\n");
    EXPECT_EQ(0, five.exit_code);
    EXPECT_TRUE(same_bytes(basic_tape(hex("08 24 01 00 41 42 00 00 00"), 0, "OUT"), output()));

    std::string largest(65535, '\n');
    largest.replace(0, 5, "1 AB\n");
    run_result max = convert(largest);
    EXPECT_EQ(0, max.exit_code);

    run_result over = convert(std::string(65536, '\n'));
    EXPECT_EQ(7, over.exit_code);
}

TEST_F(BasicCli, ImageSizeLimit)
{
    // 9385 records of 6 bytes, one of 8, and the end link: 56,320 bytes.
    std::string fits;
    for (int i = 0; i < 9385; ++i)
        fits += "1 A\n";
    run_result largest = convert(fits + "1 AAA\n");
    EXPECT_EQ(0, largest.exit_code);
    EXPECT_EQ("", largest.err);
    bytes tape = output();
    ASSERT_EQ(56320u + 68, tape.size());
    // The last link is 0xFFFF, the data block length 56,321.
    EXPECT_EQ(hex("01 DC"), bytes(tape.begin() + 65, tape.begin() + 67));
    EXPECT_EQ(hex("FF FF 01 00 41 41 41 00 00 00"), bytes(tape.end() - 11, tape.end() - 1));

    const bytes old = hex("01 02 03");
    write_file(dir.path("out.kst"), old);
    run_result refused = convert(fits + "1 AAAA\n");
    EXPECT_EQ(19, refused.exit_code);
    EXPECT_EQ("BASIC program from 'prog.bas' is too large (max. 56320 bytes)!\n\n", refused.err);
    EXPECT_EQ(std::string::npos, refused.out.find("Writing"));
    EXPECT_EQ(old, output());

    // A source that would overflow the payload buffer itself is refused too.
    std::string dense;
    while (dense.size() + 2 <= 65535)
        dense += "A\n";
    run_result huge = convert(dense);
    EXPECT_EQ(19, huge.exit_code);
    EXPECT_EQ(old, output());
}

TEST_F(BasicCli, SourceFailures)
{
    std::filesystem::create_directory(dir.path("folder"));
    struct {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
    } cases[] = {
        {{"-b", "missing.bas"}, 4, "Can't open input file 'missing.bas'!\n\n"},
        {{"-b", "folder"}, 4, "Can't open input file 'folder'!\n\n"},
        {{"-b", ""}, 4, "Can't open input file ''!\n\n"},
        {{"-b", "-a", "0x2401", "x.bas"}, 3, "Bad combination of options!\n\n"},
        {{"-b", "-t", ">", "x.bas"}, 3, "Bad combination of options!\n\n"},
    };
    for (const auto& c : cases) {
        run_result result = run(c.args);
        EXPECT_EQ(c.exit_code, result.exit_code) << c.args[1];
        EXPECT_EQ(c.err, result.err) << c.args[1];
        EXPECT_EQ("", result.out) << c.args[1];
    }
}

TEST_F(BasicCli, SourceThatCannotBePositioned)
{
    SKIP_IF_MISSING(unix_devices_missing());
    run_result result = run({"-b", "/dev/stdin"});
    EXPECT_EQ(5, result.exit_code);
    EXPECT_EQ("Can't access input file '/dev/stdin'!\n\n", result.err);
    EXPECT_EQ("", result.out);
}

} // namespace
