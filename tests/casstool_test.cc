// casstool end to end: tapes written by cassmak are listed, taken apart and
// turned back into BASIC source that cassmak turns into the same tape.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A BASIC source with the forms the way back has to keep: strings, REM and
// DATA text, lower case, a token-valued byte in a string, a line without a
// number, a line with a number only, and a line cut into two pieces.
const std::string basic_source = "10 PRINT \"HI\":GOTO 10\n"
                                 "20 REM print THEN \"x\n"
                                 "30 DATA 1,\"A:B\",c:FOR I=1 TO 9\n"
                                 "40 A$=\"\xC9\xA4\":IF A THEN 20\n"
                                 "   50 leading spaces give line 0\n"
                                 "60\n"
                                 "70 REM " +
                                 std::string(130, 'X') + "\n";

const std::string binary_input = [] {
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes += static_cast<char>(i * 7);
    return bytes;
}();

struct tape_fixture {
    scratch_dir dir;
    std::string tape = dir.path("tape.kst");

    tape_fixture()
    {
        write_file(dir.path("game.bin"), binary_input);
        write_file(dir.path("table.dat"), std::string("\0\x01\xFF", 3));
        write_file(dir.path("prog.bas"), basic_source);
        EXPECT_EQ(0, run_cassmak({"-o", tape, "-n", "7", "-a", "0x4000", "-m", "game",
                                  dir.path("game.bin")})
                         .exit_code);
        EXPECT_EQ(0,
                  run_cassmak({"-append", "-hless", "-o", tape, dir.path("table.dat")}).exit_code);
        EXPECT_EQ(0, run_cassmak({"-append", "-b", "-n", "1", "-m", "prog", "-o", tape,
                                  dir.path("prog.bas")})
                         .exit_code);
    }
};

// A path as a JSON string's text: Windows paths hold backslashes.
std::string json_path(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string json_file(const std::string& image, int entry, int offset, int length,
                      const std::string& head, const char* data_checksum,
                      const char* problem = "null")
{
    return "{\"image\":\"" + json_path(image) + "\",\"entry\":" + std::to_string(entry) +
           ",\"offset\":" + std::to_string(offset) +
           ",\"kind\":\"file\",\"length\":" + std::to_string(length) + "," + head +
           ",\"header_checksum\":true,\"data_checksum\":" + data_checksum +
           ",\"problem\":" + problem + "}\n";
}

const std::string game_head = R"("number":7,"type":"?","address":16384,"name":"GAME    ")";
const std::string prog_head = R"("number":1,"type":">","address":9217,"name":"PROG    ")";

} // namespace

TEST(Casstool, ListsExtractsAndListsBasicBackToTheSameTape)
{
    tape_fixture f;
    const int program_length = static_cast<int>(read_file(f.tape).size()) - 373 - 68;
    run_result listed = run_casstool({"list", "--json", f.tape});
    EXPECT_EQ(0, listed.exit_code) << listed.err;
    EXPECT_EQ(json_file(f.tape, 1, 0, 300, game_head, "true") + "{\"image\":\"" +
                  json_path(f.tape) +
                  "\",\"entry\":2,\"offset\":368,\"kind\":\"headless\",\"length\":3,"
                  "\"problem\":null}\n" +
                  json_file(f.tape, 3, 373, program_length, prog_head, "true"),
              listed.out);
    EXPECT_EQ("", listed.err);

    for (auto [entry, input] : {std::pair{"1", "game.bin"}, std::pair{"2", "table.dat"}}) {
        run_result to_stdout = run_casstool({"extract", f.tape, entry});
        EXPECT_EQ(0, to_stdout.exit_code) << to_stdout.err;
        EXPECT_TRUE(same_bytes(read_file(f.dir.path(input)), to_bytes(to_stdout.out)));
        const std::string copy = f.dir.path(std::string("copy") + entry);
        EXPECT_EQ(0, run_casstool({"extract", "-o", copy, f.tape, entry}).exit_code);
        EXPECT_TRUE(same_bytes(read_file(f.dir.path(input)), read_file(copy)));
    }

    // The listing, imported again with the same -n and -m, gives the same
    // tape file as the original source; with and without -o.
    run_result basic = run_casstool({"basic", f.tape});
    EXPECT_EQ(0, basic.exit_code) << basic.err;
    EXPECT_EQ("", basic.err);
    EXPECT_EQ(0, run_casstool({"basic", f.tape, "3", "-o", f.dir.path("listed.bas")}).exit_code);
    EXPECT_EQ(basic.out,
              std::string(reinterpret_cast<const char*>(read_file(f.dir.path("listed.bas")).data()),
                          read_file(f.dir.path("listed.bas")).size()));
    write_file(f.dir.path("back.bas"), basic.out);
    for (const char* source : {"prog.bas", "back.bas"})
        EXPECT_EQ(0, run_cassmak({"-b", "-n", "1", "-m", "prog", "-o",
                                  f.dir.path(std::string(source) + ".kst"), f.dir.path(source)})
                         .exit_code);
    const bytes tape = read_file(f.tape);
    EXPECT_TRUE(
        same_bytes(bytes(tape.begin() + 373, tape.end()), read_file(f.dir.path("back.bas.kst"))));
    EXPECT_TRUE(
        same_bytes(read_file(f.dir.path("prog.bas.kst")), read_file(f.dir.path("back.bas.kst"))));
}

TEST(Casstool, ShowsDamageAndRefusesItUnlessForced)
{
    tape_fixture f;
    bytes tape = read_file(f.tape);
    bytes flipped = tape;
    flipped[367] ^= 0x01; // the first file's data checksum
    write_file(f.dir.path("flipped.kst"), flipped);
    write_file(f.dir.path("cut.kst"), bytes(tape.begin(), tape.end() - 1));
    write_file(f.dir.path("nodata.kst"), bytes(tape.begin(), tape.begin() + 65 + 1));

    const std::string flipped_path = f.dir.path("flipped.kst");
    const std::string cut = f.dir.path("cut.kst");
    const std::string nodata = f.dir.path("nodata.kst");
    const int program_length = static_cast<int>(tape.size()) - 373 - 68;
    run_result listed = run_casstool({"list", "--json", flipped_path, cut, nodata});
    EXPECT_EQ(1, listed.exit_code);
    const std::string headless = "\",\"entry\":2,\"offset\":368,\"kind\":\"headless\",\"length\":"
                                 "3,\"problem\":null}\n";
    EXPECT_EQ(json_file(flipped_path, 1, 0, 300, game_head, "false", "\"bad data checksum\"") +
                  "{\"image\":\"" + json_path(flipped_path) + headless +
                  json_file(flipped_path, 3, 373, program_length, prog_head, "true") +
                  json_file(cut, 1, 0, 300, game_head, "true") + "{\"image\":\"" + json_path(cut) +
                  headless +
                  json_file(cut, 3, 373, program_length, prog_head, "null", "\"no data block\"") +
                  "{\"image\":\"" + json_path(cut) +
                  "\",\"entry\":4,\"offset\":438,\"kind\":\"truncated\","
                  "\"length\":" +
                  std::to_string(program_length + 2) + ",\"problem\":\"block of " +
                  std::to_string(program_length + 1) + " bytes cut short after " +
                  std::to_string(program_length) + "\"}\n" +
                  json_file(nodata, 1, 0, 300, game_head, "null", "\"no data block\"") +
                  "{\"image\":\"" + json_path(nodata) +
                  "\",\"entry\":2,\"offset\":65,\"kind\":\"truncated\",\"length\":1,\"problem\":"
                  "\"1 byte, too short for a length field\"}\n",
              listed.out);
    EXPECT_EQ("", listed.err);

    run_result table = run_casstool({"list", nodata});
    EXPECT_EQ(1, table.exit_code);
    EXPECT_EQ(nodata + ": 66 bytes\n"
                       "entry   offset  kind       no  type   addr    length  name          "
                       "checksums\n"
                       "    1        0  file        7  '?'    0x4000     300  \"GAME    \"    "
                       "no data  no data block\n"
                       "    2       65  truncated   -  -      -            1  -             -  "
                       "1 byte, too short for a length field\n"
                       "1 file, 0 headless blocks, 1 truncated tail; damaged: entries 1, 2\n",
              table.out);

    const std::string out = f.dir.path("out.bin");
    run_result refused = run_casstool({"extract", flipped_path, "1", "-o", out});
    EXPECT_EQ(2, refused.exit_code);
    EXPECT_EQ("casstool: " + flipped_path +
                  ": entry 1 is damaged (bad data checksum); --force extracts it anyway\n",
              refused.err);
    EXPECT_FALSE(std::filesystem::exists(out));
    run_result forced = run_casstool({"extract", flipped_path, "1", "-o", out, "--force"});
    EXPECT_EQ(1, forced.exit_code);
    EXPECT_EQ("casstool: " + flipped_path +
                  ": entry 1 is damaged (bad data checksum); written as it is\n",
              forced.err);
    EXPECT_TRUE(same_bytes(to_bytes(binary_input), read_file(out)));

    run_result no_data = run_casstool({"extract", nodata, "1", "--force"});
    EXPECT_EQ(2, no_data.exit_code);
    EXPECT_EQ("casstool: " + nodata + ": entry 1 has no data block\n", no_data.err);
    EXPECT_EQ("", no_data.out);
}

TEST(Casstool, UsageErrorsAndUnreadableFilesGiveStatus2AndOneLine)
{
    tape_fixture f;
    const std::string missing = f.dir.path("missing.kst");
    struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, "no command given (see 'casstool --help')"},
        {{"lst"}, "unknown command 'lst' (see 'casstool --help')"},
        {{"--json"}, "unknown option '--json' (see 'casstool --help')"},
        {{"list"}, "list: no image given (see 'casstool list --help')"},
        {{"list", "--force", f.tape},
         "list: unknown option '--force' (see 'casstool list --help')"},
        {{"extract", f.tape}, "extract: no entry given (see 'casstool extract --help')"},
        {{"extract", f.tape, "1x"},
         "extract: entry '1x' is not a number (see 'casstool extract --help')"},
        {{"extract", f.tape, "1", "2"},
         "extract: unexpected argument '2' (see 'casstool extract --help')"},
        {{"extract", f.tape, "1", "-o"},
         "extract: option -o needs a file name (see 'casstool extract --help')"},
        {{"basic", f.tape, "-o", "a", "-o", "b"},
         "basic: option -o given twice (see 'casstool basic --help')"},
        {{"check", "-W", "no-such-kind", "x.bas"},
         "check: unknown warning kind 'such-kind' (see 'casstool check --help')"},
        {{"check", "-Wbom", "x.bas"},
         "check: option -W takes no-KIND, not 'bom' (see 'casstool check --help')"},
        {{"extract", f.tape, "0"}, f.tape + ": no entry 0; its entries are 1 to 3"},
        {{"extract", f.tape, "99999999999999999999999"},
         f.tape + ": no entry 18446744073709551615; its entries are 1 to 3"},
        {{"basic", f.tape, "2"}, f.tape + ": entry 2 is a headless block, not a file"},
        {{"basic", f.dir.path("game.bin.kst")},
         f.dir.path("game.bin.kst") + ": cannot open: No such file or directory"},
        {{"extract", f.dir.root().string(), "1"},
         f.dir.root().string() + ": cannot read: Is a directory"},
        {{"extract", f.tape, "1", "-o", f.dir.path("no/such/folder")},
         f.dir.path("no/such/folder") + ": cannot open for writing"},
    };
    for (const auto& c : cases) {
        run_result result = run_casstool(c.args);
        EXPECT_EQ(2, result.exit_code) << c.err;
        EXPECT_EQ("casstool: " + c.err + "\n", result.err);
        EXPECT_EQ("", result.out) << c.err;
    }

    // An unreadable image does not stop the others from being listed.
    run_result listed = run_casstool({"list", "--json", missing, f.tape});
    EXPECT_EQ(2, listed.exit_code);
    EXPECT_EQ("casstool: " + missing + ": cannot open: No such file or directory\n", listed.err);
    EXPECT_EQ(3, std::count(listed.out.begin(), listed.out.end(), '\n'));
}

TEST(Casstool, HelpAndVersion)
{
    struct {
        std::vector<std::string> args;
        std::string first_line;
    } cases[] = {
        {{"--help"}, "Usage: casstool COMMAND [ARGUMENTS]"},
        {{"-h", "list"}, "Usage: casstool COMMAND [ARGUMENTS]"},
        {{"list", "x", "--bad", "-h"}, "Usage: casstool list [--json] IMAGE..."},
        {{"extract", "--help"}, "Usage: casstool extract IMAGE ENTRY [-o FILE] [--force]"},
        {{"basic", "--help"}, "Usage: casstool basic IMAGE [ENTRY] [-o FILE]"},
        {{"check", "--help"}, "Usage: casstool check [-W no-KIND]... SOURCE..."},
        {{"-v"}, "casstool " CASSMAK_VERSION},
        {{"--version"}, "casstool " CASSMAK_VERSION},
    };
    for (const auto& c : cases) {
        run_result result = run_casstool(c.args);
        EXPECT_EQ(0, result.exit_code);
        EXPECT_EQ(c.first_line, result.out.substr(0, result.out.find('\n')));
        EXPECT_EQ("", result.err);
    }
}

TEST(Casstool, NamesKeepEveryByteInJsonAndTable)
{
    SKIP_IF_MISSING(raw_argument_bytes_missing());
    scratch_dir dir;
    const std::string tape = dir.path("t.kst");
    write_file(dir.path("x.bin"), "x");
    ASSERT_EQ(
        0, run_cassmak({"-m", "\x01\"\\\x80\xFF\x7F\na", "-o", tape, dir.path("x.bin")}).exit_code);
    run_result json = run_casstool({"list", "--json", tape});
    EXPECT_EQ(0, json.exit_code);
    EXPECT_NE(std::string::npos, json.out.find(R"("name":"\u0001\"\\)"
                                               "\xC2\x80\xC3\xBF\x7F"
                                               R"(\nA",)"))
        << json.out;
    run_result table = run_casstool({"list", tape});
    EXPECT_NE(std::string::npos, table.out.find(R"("\x01\"\\\x80\xFF\x7F\x0AA")")) << table.out;
}

TEST(Casstool, BasicNamesBrokenLinksAndDamageOnStandardError)
{
    tape_fixture f;
    bytes tape = read_file(f.tape);
    // The first record's link, one too far; the data checksum made to match.
    bytes relinked = tape;
    relinked[373 + 67] += 1;
    relinked.back() += 1;
    write_file(f.dir.path("relinked.kst"), relinked);
    bytes damaged = tape;
    damaged.back() ^= 0x40;
    write_file(f.dir.path("damaged.kst"), damaged);

    const std::string original = run_casstool({"basic", f.tape}).out;
    run_result broken = run_casstool({"basic", f.dir.path("relinked.kst"), "3"});
    EXPECT_EQ(1, broken.exit_code);
    EXPECT_EQ(original, broken.out);
    const std::string prefix = "casstool: " + f.dir.path("relinked.kst") + ": entry 3: ";
    EXPECT_EQ(0U, broken.err.find(prefix)) << broken.err;
    EXPECT_EQ(1, std::count(broken.err.begin(), broken.err.end(), '\n')) << broken.err;

    run_result hurt = run_casstool({"basic", f.dir.path("damaged.kst")});
    EXPECT_EQ(1, hurt.exit_code);
    EXPECT_EQ(original, hurt.out);
    EXPECT_EQ("casstool: " + f.dir.path("damaged.kst") +
                  ": entry 3 is damaged (bad data checksum)\n",
              hurt.err);

    write_file(f.dir.path("plain.kst"), hex("03 00 01 02 03"));
    run_result none = run_casstool({"basic", f.dir.path("plain.kst")});
    EXPECT_EQ(2, none.exit_code);
    EXPECT_EQ("casstool: " + f.dir.path("plain.kst") +
                  ": no BASIC program in it (no file of type '>')\n",
              none.err);
}

TEST(Casstool, RmRemovesEntriesAndKeepsEveryOtherByte)
{
    tape_fixture f;
    const bytes before = read_file(f.tape);
    struct rm_case {
        std::vector<std::string> args;
        int exit_code;
        std::string out_start;
        std::string err;
        bool changed;
    };
    for (const rm_case& c : std::vector<rm_case>{
             {{"2", "--dry-run"},
              0,
              "removed entry 2 (headless block, 3 bytes)\n" + f.tape,
              "",
              false},
             {{"4"}, 2, "", "casstool: " + f.tape + ": no entry 4\n", false},
             {{"18446744073709551616"},
              2,
              "",
              "casstool: " + f.tape + ": no entry 18446744073709551616\n",
              false},
             {{"3-1"}, 2, "", "casstool: " + f.tape + ": range '3-1' runs backwards\n", false},
             {{"2", "-q"}, 0, "", "", true}}) {
        std::vector<std::string> args = {"rm", f.tape};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result r = run_casstool(args);
        EXPECT_EQ(c.exit_code, r.exit_code) << c.args[0];
        EXPECT_EQ(c.out_start, r.out.substr(0, c.out_start.size())) << c.args[0];
        EXPECT_EQ(c.err, r.err) << c.args[0];
        if (!c.changed) {
            EXPECT_TRUE(same_bytes(before, read_file(f.tape))) << c.args[0];
        }
    }
    // The file (300 + 68 bytes) and the BASIC program keep their bytes.
    const std::size_t file_span = 368;
    const std::size_t headless_span = 5;
    bytes expected = before;
    expected.erase(expected.begin() + file_span, expected.begin() + file_span + headless_span);
    EXPECT_TRUE(same_bytes(expected, read_file(f.tape)));
}

TEST(Casstool, ListOfManyBlocksFitsA256MiBAddressSpace)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
    SKIP_IF_MISSING(address_space_limit_missing());
    // 4 MiB of zeros: 2 million empty blocks, each a row.
    scratch_dir dir;
    const std::string zeros = dir.path("zeros.kst");
    write_file(zeros, bytes(std::size_t{4} << 20));
    run_options limited;
    limited.address_space_limit = 256L << 20;
    const run_result r = run_casstool({"list", zeros}, limited);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0U, r.out.rfind(zeros + ": 4194304 bytes\n", 0));
    const std::string last = "0 files, 2097152 headless blocks, all checksums good\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(last, r.out.substr(r.out.size() - last.size()));
}

TEST(Casstool, BasicShowsControlBytesVisiblyOnATerminal)
{
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script(1) here to give casstool a terminal";
    scratch_dir dir;
    write_file(dir.path("p.bas"), std::string_view("10 PRINT \"\x1B]0;title\x07\":REM \x82\n"));
    ASSERT_EQ(0, run_cassmak({"-b", "-o", dir.path("p.kst"), dir.path("p.bas")}).exit_code);
    const std::string command = "script -qec '" + std::string(casstool_path) + " basic " +
                                dir.path("p.kst") + "' /dev/null >" + dir.path("shown");
    ASSERT_EQ(0, std::system(command.c_str()));
    // The terminal turns the line end into CR LF.
    EXPECT_EQ(to_bytes("10 PRINT \"^[]0;title^G\":REM M-^B\r\n"), read_file(dir.path("shown")));
    // Into a file or a pipe, the listing stays what cassmak -b reads back.
    EXPECT_EQ("10 PRINT \"\x1B]0;title\x07\":REM \x82\n",
              run_casstool({"basic", dir.path("p.kst")}).out);
}
