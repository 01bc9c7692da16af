// casstool renum as a user meets it: what it prints, writes and exits with,
// and what it leaves untouched when it refuses.
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string text_of(const bytes& content)
{
    return {content.begin(), content.end()};
}

const std::string source = "@top:\r\n  PRINT \"GOTO 10\"\r\n10 GOTO @top:GOSUB 10\r\n\r\n20 RUN 99";

TEST(Renum, WritesPrintsAndRefuses)
{
    const struct {
        std::vector<std::string> args;
        int exit_code;
        std::string out, err;
    } cases[] = {
        {{"renum", "p.bas"},
         1,
         "10   PRINT \"GOTO 10\"\r\n20 GOTO 10:GOSUB 20\r\n\r\n30 RUN 99",
         "p.bas:5:8: warning: reference to line 99, which is not in the program; refer to a line "
         "that exists [missing-target]\n"},
        {{"renum", "p.bas", "--start", "0x10", "--step", "1", "--dry-run"},
         1,
         "p.bas:2: unnumbered -> 16 (@top)\np.bas:3: 10 -> 17\np.bas:5: 20 -> 18\n",
         "p.bas:5:8: warning: reference to line 99, which is not in the program; refer to a line "
         "that exists [missing-target]\n"},
        {{"renum", "p.bas", "--start", "65530", "--step", "3"},
         2,
         "",
         "casstool: p.bas: the 3 lines numbered from 65530 by 3 would end at 65536, past 65535; "
         "nothing written\n"},
        {{"renum", "bad.bas", "-o", "out.bas"},
         2,
         "",
         "bad.bas:1:6: error: label @nowhere is not defined; define it with @nowhere: at the "
         "start of a line [undefined-label]\n"
         "casstool: bad.bas: 1 label error; nothing written\n"},
        {{"renum", "p.bas", "--step", "0"},
         2,
         "",
         "casstool: renum: option --step takes 1 to 65535, not '0' (see 'casstool renum "
         "--help')\n"},
        {{"renum", "p.bas", "-q"},
         2,
         "",
         "casstool: renum: -q is for a program on a tape (IMAGE ENTRY) (see 'casstool renum "
         "--help')\n"},
        {{"renum"},
         2,
         "",
         "casstool: renum: no source or image given (see 'casstool renum --help')\n"},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        write_file(dir.path("p.bas"), source);
        write_file(dir.path("bad.bas"), "GOTO @nowhere\n");
        write_file(dir.path("out.bas"), "kept");
        const run_result run = run_casstool(c.args, {dir.root().string()});
        EXPECT_EQ(run.exit_code, c.exit_code) << c.args[1];
        EXPECT_EQ(run.out, c.out) << c.args[1];
        EXPECT_EQ(run.err, c.err) << c.args[1];
        EXPECT_EQ(text_of(read_file(dir.path("p.bas"))), source);
        EXPECT_EQ(text_of(read_file(dir.path("out.bas"))), "kept");
    }
}

// The program on a tape renumbered in place gives the tape of the source
// renumbered; a refusal leaves the tape as it was.
TEST(Renum, ProgramOnATape)
{
    scratch_dir dir;
    write_file(dir.path("p.bas"), "5 GOTO 7\n7 LIST 5-7\n");
    write_file(dir.path("n.bas"), "100 GOTO 110\n110 LIST 100-110\n");
    ASSERT_EQ(
        run_cassmak({"-b", "p.bas", "-m", "P", "-o", "p.kst"}, {dir.root().string()}).exit_code, 0);
    ASSERT_EQ(
        run_cassmak({"-b", "n.bas", "-m", "P", "-o", "n.kst"}, {dir.root().string()}).exit_code, 0);
    const bytes before = read_file(dir.path("p.kst"));
    const run_result refused =
        run_casstool({"renum", "p.kst", "1", "--start", "65535"}, {dir.root().string()});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(refused.err, "casstool: p.kst: entry 1: the 2 lines numbered from 65535 by 10 would "
                           "end at 65545, past 65535; not renumbered\n");
    EXPECT_EQ(read_file(dir.path("p.kst")), before);
    const run_result done =
        run_casstool({"renum", "p.kst", "1", "--start", "100"}, {dir.root().string()});
    EXPECT_EQ(done.exit_code, 0) << done.err;
    EXPECT_EQ(done.out, "renumbered entry 1 (file P, 20 bytes): 2 lines from 100 by 10\n");
    EXPECT_EQ(read_file(dir.path("p.kst")), read_file(dir.path("n.kst")));
}

} // namespace
