// What reaches the program from a command line where the shell leaves
// patterns to it, and how it names the files it makes in a folder.
#include "support.h"


TEST(Arguments, UnquotedPatternsBecomeTheNamesTheyMatchInOrder)
{
    SKIP_IF_MISSING(argument_patterns_missing());
    scratch_dir dir;
    write_file(dir.path("x.bin"), "x");
    // A name that matches only through Windows' short names, and one in
    // capitals that sorts first.
    for (const char* name : {"b.kst", "A.kst", "c.kstx"})
        ASSERT_EQ(0, run_cassmak({"-m", name, "-o", dir.path(name), dir.path("x.bin")}).exit_code);
    const run_result joined = run_casstool({"join", "-q", "-o", "-", dir.path("*.kst")});
    const run_result named =
        run_casstool({"join", "-q", "-o", "-", dir.path("A.kst"), dir.path("b.kst")});
    EXPECT_EQ(0, joined.exit_code) << joined.err;
    EXPECT_EQ(named.out, joined.out);
    EXPECT_EQ("", joined.err);

    const std::string none = dir.path("none*.kst");
    const run_result r = run_casstool({"list", none});
    // A pattern that matches nothing reaches the command as typed.
    EXPECT_EQ(2, r.exit_code);
    EXPECT_EQ(0u, r.err.rfind("casstool: " + none + ": cannot open", 0)) << r.err;
}

TEST(Arguments, NamesMadeInAFolderTakeItsSeparator)
{
    SKIP_IF_MISSING(backslash_separators_missing());
    scratch_dir dir;
    write_file(dir.path("x.bin"), "x");
    ASSERT_EQ(0, run_cassmak({"-m", "ONE", "-o", dir.path("t.kst"), dir.path("x.bin")}).exit_code);
    for (const std::string& folder : {dir.path("a") + "\\parts", dir.path("b") + "/parts"}) {
        const run_result r = run_casstool({"extract", dir.path("t.kst"), "all", "-d", folder});
        EXPECT_EQ(0, r.exit_code) << r.err;
        const std::string made = folder + folder[folder.size() - 6] + "01-ONE.bin";
        EXPECT_NE(std::string::npos, r.out.find(made)) << r.out;
        EXPECT_EQ(to_bytes("x"), read_file(made));
    }
}
