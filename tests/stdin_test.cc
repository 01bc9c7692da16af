// '-' names standard input for every command that reads an image or a source
// whole. The stream is a file given to the tool as its standard input, so
// that the test runs where no shell can redirect one.
#include "support.h"

#include <gtest/gtest.h>


namespace {

std::string with_name(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(StandardInput, DashReadsTheStreamNotAFileNamedDash)
{
    scratch_dir dir;
    write_file(dir.path("game.bin"), hex("01 02 03 04 05"));
    run_options here;
    here.cwd = dir.root().string();
    ASSERT_EQ(0, run_cassmak({"-o", "t.kst", "game.bin"}, here).exit_code);
    write_file(dir.path("prog.bas"), "10 PRINT \"HI\"\n20 print A\n");
    // What the tool must not read in place of its standard input.
    write_file(dir.path("-"), "not this");

    struct {
        std::vector<std::string> from_stream; // '-' and what writes `out.kst`
        std::vector<std::string> from_file;   // the same reading `named`, writing `named.kst`
        std::string named;
    } cases[] = {
        {{"check", "-"}, {"check", "prog.bas"}, "prog.bas"},
        {{"list", "-"}, {"list", "t.kst"}, "t.kst"},
        {{"join", "-o", "out.kst", "-"}, {"join", "-o", "named.kst", "t.kst"}, "t.kst"},
        {{"copy", "-", "1", "--to", "out.kst"},
         {"copy", "t.kst", "1", "--to", "named.kst"},
         "t.kst"},
    };
    for (const auto& c : cases) {
        write_file(dir.path("out.kst"), "");
        write_file(dir.path("named.kst"), "");
        const run_result wanted = run_casstool(c.from_file, here);
        run_options fed = here;
        fed.stdin_file = dir.path(c.named);
        const run_result got = run_casstool(c.from_stream, fed);
        const std::string what = c.from_stream[0];
        EXPECT_EQ(wanted.exit_code, got.exit_code) << what;
        EXPECT_EQ(with_name(with_name(wanted.out, "named.kst", "out.kst"), c.named, "-"), got.out)
            << what;
        EXPECT_EQ(with_name(with_name(wanted.err, "named.kst", "out.kst"), c.named, "-"), got.err)
            << what;
        EXPECT_TRUE(same_bytes(read_file(dir.path("named.kst")), read_file(dir.path("out.kst"))))
            << what;
    }
    // The file the tool would have taken for its stream is not empty, so the
    // reads above were of the stream; and it is still there, untouched.
    EXPECT_EQ(to_bytes("not this"), read_file(dir.path("-")));
}
