// casstool add end to end: the bytes cassmak would write for the same
// fields, the refusals that leave the image as it was, and a tape that ends
// in an entry which would swallow the new one.
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct add_fixture {
    scratch_dir dir;
    std::string image = dir.path("tape.kst");
    std::string made = dir.path("made.kst");

    add_fixture()
    {
        write_file(dir.path("prog.bin"), std::string("\x01\x02\xFF\x00hello", 9));
        write_file(dir.path("game.bas"), "10 PRINT \"HI\"\n20 GOTO 10\n");
        write_file(dir.path("empty"), "");
        write_file(dir.path("large.bin"), std::string(65534, 'x'));
    }
};

// The same fields given to cassmak (and appended with -append) and to
// casstool add give the same image, byte for byte. cassmak names a file
// after its output and add after its input, so the name is given where
// add derives it.
TEST(CasstoolAdd, WritesTheBytesCassmakWritesForTheSameFields)
{
    struct field_case {
        const char* what;
        std::vector<std::string> cassmak;
        std::vector<std::string> add;
        const char* input;
    };
    const field_case cases[] = {
        {"defaults, named after the file", {"-m", "prog"}, {}, "prog.bin"},
        {"every field",
         {"-m", "demo", "-n", "42", "-t", "X", "-a", "0x4000"},
         {"--name", "demo", "--number", "42", "--type", "X", "--address", "0x4000"},
         "prog.bin"},
        {"octal and decimal", {"-m", "prog", "-a", "0777", "-n", "7"}, {"--address", "0777", "--number", "7"},
         "prog.bin"},
        {"headless", {"-hless"}, {"--headless"}, "prog.bin"},
        {"BASIC", {"-m", "game", "-b", "-n", "3"}, {"--basic", "--number", "3"}, "game.bas"},
    };
    for (const field_case& c : cases) {
        add_fixture f;
        const std::string input = f.dir.path(c.input);
        std::vector<std::string> first = c.cassmak;
        first.insert(first.end(), {"-o", f.made, input});
        std::vector<std::string> second = c.cassmak;
        second.insert(second.end(), {"-append", "-o", f.made, input});
        ASSERT_EQ(0, run_cassmak(first).exit_code) << c.what;
        ASSERT_EQ(0, run_cassmak(second).exit_code) << c.what;

        std::vector<std::string> add = {"add", "-q", f.image, input};
        add.insert(add.end(), c.add.begin(), c.add.end());
        const run_result made = run_casstool(add);
        EXPECT_EQ(0, made.exit_code) << c.what << made.err;
        EXPECT_EQ("", made.out + made.err) << c.what;
        EXPECT_EQ(0, run_casstool(add).exit_code) << c.what;
        EXPECT_TRUE(same_bytes(read_file(f.made), read_file(f.image))) << c.what;
    }
}

TEST(CasstoolAdd, SaysWhatItAddedAndADryRunWritesNothing)
{
    add_fixture f;
    const std::string bin = f.dir.path("prog.bin");
    ASSERT_EQ(0, run_casstool({"add", f.image, bin}).exit_code);
    const bytes before = read_file(f.image);

    // Standard input is named after the image, as cassmak names it.
    run_options from_file;
    from_file.stdin_file = bin;
    from_file.cwd = f.dir.root().string();
    const run_result dry =
        run_casstool({"add", "--dry-run", "tape.kst", "-", "prog.bin"}, from_file);
    EXPECT_EQ(0, dry.exit_code) << dry.err;
    EXPECT_EQ(0u, dry.out.find("added - as entry 2 (file TAPE, 9 bytes)\n"
                               "added prog.bin as entry 3 (file PROG, 9 bytes)\n"))
        << dry.out;
    EXPECT_NE(std::string::npos, dry.out.find("3 files, 0 headless blocks")) << dry.out;
    EXPECT_TRUE(same_bytes(before, read_file(f.image)));
}

TEST(CasstoolAdd, RefusesWhatItCannotStoreAndLeavesTheImage)
{
    struct refusal {
        std::vector<std::string> args; // after the image
        const char* err;               // after "casstool: "
    };
    const refusal cases[] = {
        {{"prog.bin", "--address", "0x4OOO"},
         "add: an address '0x4OOO' is not 0 to 65535 (see 'casstool add --help')"},
        {{"prog.bin", "--address", "4k"},
         "add: an address '4k' is not 0 to 65535 (see 'casstool add --help')"},
        {{"prog.bin", "--number", "12abc"},
         "add: a file number '12abc' is not 0 to 99 (see 'casstool add --help')"},
        {{"prog.bin", "--number"}, "add: option --number needs a file number (see 'casstool add "
                                   "--help')"},
        {{"prog.bin", "--headless", "--name", "x"},
         "add: --headless takes no --basic, --name, --number, --type or --address (see "
         "'casstool add --help')"},
        {{"game.bas", "--basic", "--type", "B"},
         "add: --basic takes no --type or --address (see 'casstool add --help')"},
        {{}, "add: no file given (see 'casstool add --help')"},
        {{"empty"}, "empty: 0 bytes, fewer than 1 to store"},
        {{"prog.bin", "empty"}, "empty: 0 bytes, fewer than 1 to store"},
        {{"large.bin"}, "large.bin: more than 65533 bytes, larger than a stored file can be"},
    };
    for (const refusal& c : cases) {
        add_fixture f;
        write_file(f.image, bytes{1, 0, 7});
        std::vector<std::string> args = {"add", "tape.kst"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_options in_folder;
        in_folder.cwd = f.dir.root().string();
        const run_result r = run_casstool(args, in_folder);
        EXPECT_EQ(2, r.exit_code) << c.err;
        EXPECT_EQ("casstool: " + std::string(c.err) + "\n", r.err);
        EXPECT_EQ("", r.out);
        EXPECT_TRUE(same_bytes(bytes{1, 0, 7}, read_file(f.image))) << c.err;
    }
}

// A truncated tail or a file without its data block takes in whatever
// follows it: the added file would vanish into it.
TEST(CasstoolAdd, AddsAfterAnOpenEntryOnlyWithForce)
{
    add_fixture f;
    const std::string bin = f.dir.path("prog.bin");
    const bytes tail = {0x05, 0x00, 0x01};
    write_file(f.image, tail);
    const run_result refused = run_casstool({"add", f.image, bin});
    EXPECT_EQ(2, refused.exit_code);
    EXPECT_EQ("casstool: " + f.image + ": refused: entry 1 of " + f.image +
                  " (a truncated tail) can only end an image; what followed it would be read as "
                  "its part; --force adds after it anyway\n",
              refused.err);
    EXPECT_TRUE(same_bytes(tail, read_file(f.image)));

    const run_result forced = run_casstool({"add", "--force", "-q", f.image, bin});
    EXPECT_EQ(1, forced.exit_code) << forced.err;
    EXPECT_NE(std::string::npos, forced.err.find("added after it all the same")) << forced.err;
    ASSERT_EQ(0, run_cassmak({"-m", "prog", "-o", f.made, bin}).exit_code);
    bytes expected = tail;
    const bytes file = read_file(f.made);
    expected.insert(expected.end(), file.begin(), file.end());
    EXPECT_TRUE(same_bytes(expected, read_file(f.image)));
}

// A labelled source is stored as its numbered form would be; a label error
// stores nothing.
TEST(CasstoolAdd, NumbersALabelledSourceAsRenumDoes)
{
    add_fixture f;
    run_options in_folder;
    in_folder.cwd = f.dir.root().string();
    write_file(f.dir.path("loop.bas"), "@top: PRINT \"HI\"\nGOTO @top\n");
    ASSERT_EQ(0, run_casstool({"renum", "loop.bas", "-o", "numbered.bas"}, in_folder).exit_code);
    ASSERT_EQ(0, run_cassmak({"-b", "-m", "loop", "-o", f.made, f.dir.path("numbered.bas")})
                     .exit_code);
    const run_result added = run_casstool({"add", "-q", "tape.kst", "loop.bas", "--basic"}, in_folder);
    EXPECT_EQ(0, added.exit_code) << added.err;
    EXPECT_TRUE(same_bytes(read_file(f.made), read_file(f.image)));

    write_file(f.dir.path("bad.bas"), "10 GOTO @nowhere\n");
    const run_result refused = run_casstool({"add", "tape.kst", "bad.bas", "--basic"}, in_folder);
    EXPECT_EQ(2, refused.exit_code);
    EXPECT_NE(std::string::npos, refused.err.find("bad.bas:1:")) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("[undefined-label]")) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("casstool: bad.bas: 1 label error; nothing added\n"))
        << refused.err;
    EXPECT_TRUE(same_bytes(read_file(f.made), read_file(f.image)));
}

} // namespace
