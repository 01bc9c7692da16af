// End-to-end: casstool check over a source with every kind of warning.
#include "basic/checker.h"
#include "support.h"

#include <gtest/gtest.h>

using namespace cassmak::core;

namespace {

std::string every_kind_source()
{
    std::string source = "\xEF\xBB\xBF"
                         "10 REM EVERY KIND\r\n"
                         "  20 PRINT\r\n"
                         "30 REM " +
                         std::string(119, 'X') +
                         "35 A\r\n"
                         "70000 A=1\r\n"
                         "40 B=2\r\n"
                         "50 print B\r\n"
                         "60 A=\xC3\xA9\r\n" +
                         std::string("70 A\0B\r\n", 8) +
                         "80 A\r90 B\r\n"
                         "100 PRINT \"HI\r\n"
                         "110\r\n";
    // 700 records of 97 bytes take the image past its limit and the source
    // past its own.
    for (int number = 1000; number < 1700; ++number)
        source += std::to_string(number) + " REM " + std::string(90, 'X') + "\r\n";
    return source;
}

const std::string p = "prog.bas:";

} // namespace

TEST(CheckCommand, EveryKindOnceThenClean)
{
    scratch_dir dir;
    write_file(dir.path("prog.bas"), every_kind_source());
    write_file(dir.path("clean.bas"), "10 PRINT \"HI\"\n20 GOTO 10\n");

    run_result all = run_casstool({"check", "prog.bas", "clean.bas"}, {dir.root().string()});
    EXPECT_EQ(1, all.exit_code);
    EXPECT_EQ(
        p +
            "1:1: warning: source is 70945 bytes: cassmak -b refuses sources outside 5 to 65535 "
            "bytes (status 7) [source-size]\n" +
            p +
            "1:1: warning: UTF-8 byte order mark: cassmak -b keeps its bytes EF BB BF as text, "
            "so line 10 becomes line 0 holding them (EF is no keyword, BB is TAN, BF is STR$); "
            "save the file without the mark [bom]\n" +
            p +
            "2:1: warning: line begins with white space, so cassmak -b stores it as line 0 with "
            "20 in its text; start the line with its number [no-number]\n" +
            p +
            "3:127: warning: line of 130 characters: cassmak -b cuts it into 2 lines; from "
            "column 127 it is stored as line 35, a number taken from its leading digits; keep "
            "lines within 126 characters "
            "[split-line]\n" +
            p +
            "4:1: warning: line number 70000 is stored as 4464 (its low 16 bits); use 0 to 65535 "
            "[number-range]\n" +
            p +
            "5:1: warning: line number 40 is smaller than the line before (70000): cassmak -b "
            "keeps the file's order and does not sort; move or renumber the line [order]\n" +
            p +
            "6:4: warning: 'print' stays letters: cassmak -b knows keywords only in upper case; "
            "write PRINT [lower-case-keyword]\n" +
            p +
            "7:6: warning: bytes C3 A9 outside a string: cassmak -b stores them as they are and "
            "the machine reads tokens (C3 is LEFT$, A9 is AND); write ASCII or put the text in "
            "quotes [non-ascii]\n" +
            p +
            "8:5: warning: NUL byte: cassmak -b ignores it and the rest of the line; remove it "
            "[nul]\n" +
            p +
            "9:5: warning: carriage return without a newline: cassmak -b ends lines only at "
            "newlines, so the text after it runs into this line (1 such return in it); save the "
            "file with LF or CR LF line ends [cr-line-ends]\n" +
            p +
            "10:11: warning: string is not closed: cassmak -b tokenizes nothing after this quote "
            "up to the end of the line; close it with a double quote [unclosed-string]\n" +
            p +
            "11:1: warning: line 110 has no statement: cassmak -b stores an empty line 110; add a "
            "statement or remove the line [empty-line-number]\n" +
            p +
            "590:1: warning: program image would be 68135 bytes, more than 56320: cassmak -b "
            "refuses it (status 19) from this line on; shorten the program [too-large]\n",
        all.out);
    EXPECT_EQ("prog.bas: 13 warnings\nclean.bas: no problems\n", all.err);

    std::vector<std::string> quiet = {"check"};
    for (std::string_view kind : check_kinds())
        quiet.insert(quiet.end(), {"-W", "no-" + std::string(kind)});
    quiet.insert(quiet.end(), {"missing.bas", "prog.bas"});
    run_result none = run_casstool(quiet, {dir.root().string()});
    EXPECT_EQ(2, none.exit_code);
    EXPECT_EQ("", none.out);
    EXPECT_EQ("casstool: missing.bas: cannot open: No such file or directory\n"
              "prog.bas: no problems\n",
              none.err);
}

TEST(CheckCommand, EndlessDeviceIsRefused)
{
    SKIP_IF_MISSING(unix_devices_missing());
    scratch_dir dir;
    write_file(dir.path("prog.bas"), every_kind_source());
    std::vector<std::string> quiet = {"check"};
    for (std::string_view kind : check_kinds())
        quiet.insert(quiet.end(), {"-W", "no-" + std::string(kind)});
    quiet.insert(quiet.end(), {"missing.bas", "/dev/zero", "prog.bas"});
    run_result none = run_casstool(quiet, {dir.root().string()});
    EXPECT_EQ(2, none.exit_code);
    EXPECT_EQ("", none.out);
    EXPECT_EQ("casstool: missing.bas: cannot open: No such file or directory\n"
              "casstool: /dev/zero: larger than 16 MiB, not a BASIC source\n"
              "prog.bas: no problems\n",
              none.err);
}

// Columns count as GCC counts them, so that an editor lands on the character;
// a cut line draws no unclosed-string that only the cut causes; a line after
// a cut piece is compared with that piece's number, as the importer does.
TEST(CheckCommand, DisplayColumnsCutStringsAndOrderAfterACut)
{
    const std::string tail = ": cassmak -b knows keywords only in upper case; write PRINT "
                             "[lower-case-keyword]\n";
    const std::string cut = "1:127: warning: line of 141 characters: cassmak -b cuts it into 2 "
                            "lines; from column 127 it is stored as line 0; keep lines within "
                            "126 characters [split-line]\n";
    struct {
        std::string source;
        std::string out;
    } cases[] = {
        {"10 PRINT \"\xC3\xA9\xC3\xA9\xC3\xA9\":print 1\n",
         "1:16: warning: 'print' stays letters" + tail},
        {"10 PRINT \"\xE4\xB8\xAD\":\tprint 1\n", "1:17: warning: 'print' stays letters" + tail},
        {"10 A=\"\xFF\":print\n", "1:10: warning: 'print' stays letters" + tail},
        {"10 PRINT \"" + std::string(130, 'A') + "\"\n", cut},
        // A string that stays unclosed as written is still named, in its piece.
        {"10 A=" + std::string(130, 'B') + ":PRINT \"X\n",
         "1:127: warning: line of 144 characters: cassmak -b cuts it into 2 lines; from column "
         "127 it is stored as line 0; keep lines within 126 characters [split-line]\n"
         "1:143: warning: string is not closed: cassmak -b tokenizes nothing after this quote up "
         "to the end of the line; close it with a double quote [unclosed-string]\n"},
        {"10 REM " + std::string(119, 'A') + "500 B\n20 C\n",
         "1:127: warning: line of 131 characters: cassmak -b cuts it into 2 lines; from column "
         "127 it is stored as line 500, a number taken from its leading digits; keep lines "
         "within 126 characters [split-line]\n"
         "2:1: warning: line number 20 is smaller than the line before (500, the number of its "
         "cut-off piece): cassmak -b keeps the file's order and does not sort; move or renumber "
         "the line [order]\n"},
    };
    scratch_dir dir;
    for (const auto& c : cases) {
        write_file(dir.path("s.bas"), c.source);
        const run_result r =
            run_casstool({"check", "-Wno-source-size", "s.bas"}, {dir.root().string()});
        std::string expected;
        for (std::size_t at = 0; at < c.out.size();) {
            const std::size_t end = c.out.find('\n', at) + 1;
            expected += "s.bas:" + c.out.substr(at, end - at);
            at = end;
        }
        EXPECT_EQ(expected, r.out) << c.source;
        EXPECT_EQ(1, r.exit_code) << c.source;
    }
    // The importer says the same about the order.
    write_file(dir.path("s.bas"), cases[5].source);
    EXPECT_NE(std::string::npos, run_cassmak({"-b", "-o", dir.path("s.kst"), dir.path("s.bas")})
                                     .out.find("Line: 20\tWrong order of line. Last line 500\n"));
}
