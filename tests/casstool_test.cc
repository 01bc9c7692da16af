// casstool end to end: tapes written by cassmak are listed, taken apart and
// turned back into BASIC source that cassmak turns into the same tape.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
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
         f.tape + ": no entry 99999999999999999999999; its entries are 1 to 3"},
        {{"basic", f.tape, "007"}, f.tape + ": no entry 007; its entries are 1 to 3"},
        {{"basic", f.tape, "2"}, f.tape + ": entry 2 is a headless block, not a file"},
        {{"basic", f.tape, "1"},
         f.tape + ": entry 1 (file GAME, 300 bytes) is of type '?', not a BASIC program (type "
                  "'>'); 'casstool extract' gives its bytes"},
        {{"basic", f.dir.path("game.bin.kst")},
         f.dir.path("game.bin.kst") + ": cannot open: No such file or directory"},
        {{"extract", f.dir.root().string(), "1"},
         f.dir.root().string() + ": cannot read: Is a directory"},
        {{"extract", f.tape, "1", "-o", f.dir.path("no/such/folder")},
         f.dir.path("no/such/folder") + ": cannot open for writing: No such file or directory"},
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
        {{"extract", "--help"},
         "Usage: casstool extract IMAGE ENTRY [-o FILE] [--force] [--no-sync]"},
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

// No two paths give one JSON text: a byte of a path that is not part of
// valid UTF-8 is written as the lone surrogate U+DC80 + byte.
TEST(Casstool, JsonTellsEveryPathApart)
{
    SKIP_IF_MISSING(raw_argument_bytes_missing());
    scratch_dir dir;
    const struct {
        std::string path;
        std::string json;
    } cases[] = {
        {"caf\xC3\xA9.kst", "caf\xC3\xA9.kst"},
        {"caf\xE9.kst", "caf\\udce9.kst"},
        {"\xFF\xC3\xA9\x80.kst", "\\udcff\xC3\xA9\\udc80.kst"},
    };
    for (const auto& c : cases) {
        write_file(dir.path(c.path), hex("01 00 41"));
        const run_result r = run_casstool({"list", "--json", c.path}, {dir.root().string()});
        EXPECT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ("{\"image\":\"" + c.json +
                      "\",\"entry\":1,\"offset\":0,\"kind\":\"headless\",\"length\":1,"
                      "\"problem\":null}\n",
                  r.out);
    }
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

// The spans kept by a removal are copied through the system where they stay
// at their offsets modulo a page, through a buffer of casstool's own where
// they move by any other length: both give every kept byte, across the
// buffer's pieces (2.5 MiB after the entries removed).
TEST(Casstool, RmCopiesKeptSpansAlignedOrNot)
{
    scratch_dir dir;
    std::mt19937 random(11);
    bytes image = hex("03 00 01 02 03");
    const std::size_t page_block = 4096; // a block of 4094 bytes
    const std::size_t block = 2 + 0xFFFF;
    for (const std::size_t span : std::vector<std::size_t>(41, block)) {
        const std::size_t length = (image.size() == 5 ? page_block : span) - 2;
        image.push_back(static_cast<std::uint8_t>(length));
        image.push_back(static_cast<std::uint8_t>(length >> 8));
        for (std::size_t j = 0; j < length; ++j)
            image.push_back(static_cast<std::uint8_t>(random()));
    }
    const struct {
        std::string entries;
        std::size_t from; // the bytes removed
        std::size_t count;
    } cases[] = {
        {"1", 0, 5},                                     // the rest moves by 5 bytes
        {"2", 5, page_block},                            // by a page
        {"1-2", 0, 5 + page_block},                      // by a page and 5 bytes
        {"4", 5 + page_block + block, block},            // kept at 0, then moved
        {"42", 5 + page_block + 39 * block, block},      // the front alone is kept
    };
    for (const auto& c : cases) {
        const std::string tape = dir.path("tape.kst");
        write_file(tape, image);
        const run_result r = run_casstool({"rm", "-q", "--no-sync", tape, c.entries});
        EXPECT_EQ(0, r.exit_code) << c.entries << ": " << r.err;
        bytes expected = image;
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(c.from),
                       expected.begin() + static_cast<std::ptrdiff_t>(c.from + c.count));
        EXPECT_TRUE(same_bytes(expected, read_file(tape))) << c.entries;
    }
}

TEST(Casstool, ListOfManyBlocksFitsA256MiBAddressSpace)
{
    SKIP_IF_MISSING(small_address_space_missing());
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

TEST(Casstool, AnImageOfUpTo1GiBIsReadAndChangedAndOneByteMoreIsNot)
{
    SKIP_IF_MISSING(sparse_files_missing());
    // Exactly 1 GiB of headless blocks, sparse: 16383 of the largest length
    // and one of 49151 bytes, only their length fields written.
    scratch_dir dir;
    const std::string image = dir.path("gib.kst");
    const std::uint64_t gib = std::uint64_t{1} << 30;
    {
        std::ofstream out(image, std::ios::binary);
        const std::uint64_t span = 2 + 0xFFFF;
        for (std::uint64_t at = 0; at + span <= gib; at += span)
            out.seekp(static_cast<std::streamoff>(at)).write("\xFF\xFF", 2);
        out.seekp(static_cast<std::streamoff>(gib / span * span)).write("\xFF\xBF", 2);
    }
    std::filesystem::resize_file(image, gib);
    const std::string too_large = "casstool: " + image + ": larger than 1 GiB, not a tape image\n";
    struct size_case {
        std::uint64_t size;
        std::vector<std::string> args;
        int exit_code;
        std::string out_start;
        std::string out_end;
        std::string err;
    };
    for (const size_case& c : std::vector<size_case>{
             {gib,
              {"list", image},
              0,
              image + ": 1073741824 bytes\n",
              "0 files, 16384 headless blocks, all checksums good\n",
              ""},
             // Refused only after the update has read the entries.
             {gib, {"rm", image, "16385"}, 2, "", "", "casstool: " + image + ": no entry 16385\n"},
             {gib + 1, {"list", image}, 2, "", "", too_large},
             {gib + 1, {"list", "--json", image}, 2, "", "", too_large},
             {gib + 1,
              {"rm", image, "1"},
              2,
              "",
              "",
              "casstool: " + image + ": cannot be updated: " + std::strerror(EFBIG) +
                  "; it is left as it was\n"},
         }) {
        std::filesystem::resize_file(image, c.size);
        const run_result r = run_casstool(c.args);
        EXPECT_EQ(c.exit_code, r.exit_code) << c.size << " " << c.args[0];
        EXPECT_EQ(c.err, r.err) << c.size << " " << c.args[0];
        EXPECT_EQ(c.out_start, r.out.substr(0, c.out_start.size())) << c.size << " " << c.args[0];
        ASSERT_GE(r.out.size(), c.out_end.size());
        EXPECT_EQ(c.out_end, r.out.substr(r.out.size() - c.out_end.size()))
            << c.size << " " << c.args[0];
        EXPECT_EQ(c.size, std::filesystem::file_size(image)) << c.size << " " << c.args[0];
    }
}

// A regular file over the largest image is refused by its size before it is
// read: split, join and copy once read 2 GiB whole first, which does not fit
// the address space given here.
TEST(Casstool, AnImageOverTheLargestIsRefusedBeforeItIsRead)
{
    SKIP_IF_MISSING(sparse_files_missing());
    SKIP_IF_MISSING(small_address_space_missing());
    SKIP_IF_MISSING(address_space_limit_missing());
    scratch_dir dir;
    const std::string big = dir.path("big.kst");
    write_file(big, bytes());
    std::filesystem::resize_file(big, std::uint64_t{2} << 30);
    const std::string small = dir.path("small.kst");
    const bytes one_block = hex("01 00 41");
    write_file(small, one_block);
    const std::string refused = ": larger than 1 GiB, not a tape image\n";
    const struct {
        std::vector<std::string> args;
        std::string stdin_file;
        std::string err;
    } cases[] = {
        {{"split", big, "-d", dir.path("parts")}, "", "casstool: " + big + refused},
        {{"join", "-o", dir.path("joined.kst"), small, big}, "", "casstool: " + big + refused},
        {{"copy", big, "1", "--to", small}, "", "casstool: " + big + refused},
        {{"join", "-o", dir.path("joined.kst"), "-"}, big, "casstool: -" + refused},
    };
    for (const auto& c : cases) {
        run_options limited;
        limited.address_space_limit = 256L << 20;
        limited.stdin_file = c.stdin_file;
        const run_result r = run_casstool(c.args, limited);
        EXPECT_EQ(2, r.exit_code) << c.args[0];
        EXPECT_EQ(c.err, r.err) << c.args[0];
        EXPECT_EQ("", r.out) << c.args[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path("parts")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("joined.kst")));
    EXPECT_EQ(one_block, read_file(small));
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

namespace {

// A stored file with any name bytes (padded to 8), its checksums right.
bytes stored_file(const std::string& name, const bytes& payload)
{
    bytes head = {0,
                  '?',
                  0,
                  0x40,
                  static_cast<std::uint8_t>(payload.size() - 1),
                  static_cast<std::uint8_t>((payload.size() - 1) >> 8)};
    std::string padded = name;
    padded.resize(8, ' ');
    head.insert(head.end(), padded.begin(), padded.end());
    unsigned sum = 0;
    for (const std::uint8_t b : head)
        sum += b;
    bytes out = concat({hex("3F 00 FF*16 00*16 55*16"), head, {static_cast<std::uint8_t>(sum)}});
    out.push_back(static_cast<std::uint8_t>(payload.size() + 1));
    out.push_back(static_cast<std::uint8_t>((payload.size() + 1) >> 8));
    sum = 0;
    for (const std::uint8_t b : payload)
        sum += b;
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(static_cast<std::uint8_t>(sum));
    return out;
}

bool have_shell()
{
    return std::system("command -v cat >/dev/null 2>&1") == 0;
}

// The entries of the fixture's tape as bytes: the file GAME (300 bytes), the
// headless block (3 bytes) and the BASIC program PROG.
struct tape_parts {
    bytes whole, game, block, prog;
    explicit tape_parts(const bytes& tape)
        : whole(tape), game(tape.begin(), tape.begin() + 368),
          block(tape.begin() + 368, tape.begin() + 373), prog(tape.begin() + 373, tape.end())
    {
    }
};

// The fixture's file GAME with its header rewritten as the tool should.
bytes with_header(bytes file, int number, char type, int address, const char* name)
{
    std::uint8_t* head = file.data() + 50;
    head[0] = static_cast<std::uint8_t>(number);
    head[1] = static_cast<std::uint8_t>(type);
    head[2] = static_cast<std::uint8_t>(address & 0xFF);
    head[3] = static_cast<std::uint8_t>(address >> 8);
    std::copy(name, name + 8, head + 6);
    unsigned sum = 0;
    for (int i = 0; i < 14; ++i)
        sum += head[i];
    head[14] = static_cast<std::uint8_t>(sum);
    return file;
}

} // namespace

// Every payload comes back exactly, into DIR and nowhere else, under a name
// made of safe bytes only; nothing is overwritten without --force.
TEST(Casstool, ExtractAllGivesEveryPayloadBackUnderSafeNames)
{
    scratch_dir dir;
    struct {
        std::string name; // as stored
        bytes payload;
        std::string file; // as written into DIR
    } entries[] = {
        {"../x", to_bytes("up"), "01-.._x.bin"},
        {"/", to_bytes("root"), "02-_.bin"},
        {"\x01\x1B[2J\x7F\xFF", hex("00 01 02"), "03-___2J__.bin"},
        {"", to_bytes("no name"), "04.bin"},
        {"SAME", to_bytes("first"), "05-SAME.bin"},
        {"SAME", to_bytes("second"), "06-SAME.bin"},
        {"..", to_bytes("dots"), "07-__.bin"},
        {"", hex("41 42"), "08-headless.bin"}, // a headless block
    };
    bytes image;
    for (const auto& e : entries)
        image = concat({image, &e == &entries[7] ? concat({hex("02 00"), e.payload})
                                                 : stored_file(e.name, e.payload)});
    write_file(dir.path("t.kst"), image);
    std::filesystem::create_directory(dir.path("out"));

    run_result r = run_casstool({"extract", "t.kst", "all", "-d", "out"}, {dir.root().string()});
    const std::string out = "out" + folder_separator();
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(8, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;
    EXPECT_NE(std::string::npos,
              r.out.find("entry 4 (file (blank name), 7 bytes) to " + out + "04.bin"));
    EXPECT_NE(std::string::npos,
              r.out.find("extracted entry 3 (file \\x01\\x1B[2J\\x7F\\xFF, 3 bytes) to " + out +
                         "03-___2J__.bin\n"))
        << r.out;
    std::size_t files = 0;
    for (const auto& e : entries) {
        EXPECT_TRUE(same_bytes(e.payload, read_file(dir.path("out/" + e.file)))) << e.file;
        ++files;
    }
    EXPECT_EQ(files, static_cast<std::size_t>(
                         std::distance(std::filesystem::directory_iterator(dir.path("out")), {})));
    EXPECT_FALSE(std::filesystem::exists(dir.path("x")));

    // Again: refused before anything is written, then forced, quietly.
    write_file(dir.path("out/01-.._x.bin"), "kept");
    r = run_casstool({"extract", "t.kst", "all", "-d", "out"}, {dir.root().string()});
    EXPECT_EQ(2, r.exit_code);
    EXPECT_EQ("casstool: " + out + "01-.._x.bin: exists; --force overwrites it\n", r.err);
    EXPECT_EQ(to_bytes("kept"), read_file(dir.path("out/01-.._x.bin")));
    r = run_casstool({"extract", "-q", "--force", "t.kst", "all", "-d", "out/"},
                     {dir.root().string()});
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(to_bytes("up"), read_file(dir.path("out/01-.._x.bin")));

    // A link in DIR is never followed, forced or not.
    std::error_code no_links;
    std::filesystem::remove(dir.path("out/02-_.bin"));
    std::filesystem::create_symlink(dir.path("elsewhere"), dir.path("out/02-_.bin"), no_links);
    if (!no_links) {
        r = run_casstool({"extract", "--force", "t.kst", "all", "-d", "out"},
                         {dir.root().string()});
        EXPECT_EQ(2, r.exit_code);
        EXPECT_EQ("casstool: " + out + "02-_.bin: is a symbolic link; not followed\n", r.err);
        EXPECT_FALSE(std::filesystem::exists(dir.path("elsewhere")));
    }

    // A damaged entry stops the run unless forced; with --force, status 1.
    image[69] ^= 0x01; // the first file's data checksum
    write_file(dir.path("bad.kst"), image);
    std::filesystem::create_directory(dir.path("bad"));
    r = run_casstool({"extract", "bad.kst", "all", "-d", "bad"}, {dir.root().string()});
    EXPECT_EQ(2, r.exit_code);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path("bad")));
    r = run_casstool({"extract", "--force", "-q", "bad.kst", "all", "-d", "bad"},
                     {dir.root().string()});
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(8, std::distance(std::filesystem::directory_iterator(dir.path("bad")), {}));
}

// Standard input that is a file is read once and gives what the file named
// gives; a pipe is refused before anything is written.
TEST(Casstool, ExtractAllFromStandardInputWritesWhatTheFileNamedWrites)
{
    tape_fixture f;
    bytes damaged = read_file(f.tape);
    damaged[367] ^= 0x01; // GAME's data checksum
    write_file(f.dir.path("bad.kst"), damaged);
    run_options here;
    here.cwd = f.dir.root().string();
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        for (std::size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    };
    const struct {
        std::string image;
        std::vector<std::string> options;
        int exit_code;
        std::size_t files;
    } cases[] = {
        {"tape.kst", {}, 0, 3},
        {"tape.kst", {"-q"}, 0, 3},
        {"bad.kst", {}, 2, 0},
        {"bad.kst", {"--force"}, 1, 3},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string named = "named" + std::to_string(run);
        const std::string fed = "fed" + std::to_string(run++);
        std::vector<std::string> args = {"extract", c.image, "all", "-d", named};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const run_result wanted = run_casstool(args, here);
        args[1] = "-";
        args[4] = fed;
        run_options from_stdin = here;
        from_stdin.stdin_file = f.dir.path(c.image);
        const run_result got = run_casstool(args, from_stdin);
        EXPECT_EQ(c.exit_code, wanted.exit_code) << wanted.err;
        EXPECT_EQ(c.exit_code, got.exit_code) << got.err;
        EXPECT_EQ(replaced(wanted.out, named, fed), got.out) << c.image;
        EXPECT_EQ(replaced(wanted.err, c.image, "-"), got.err) << c.image;
        std::size_t files = 0;
        if (std::filesystem::exists(f.dir.path(named)))
            for (const auto& file : std::filesystem::directory_iterator(f.dir.path(named))) {
                const std::string name = file.path().filename().string();
                EXPECT_TRUE(same_bytes(read_file(file.path().string()),
                                       read_file(f.dir.path(fed + "/" + name))))
                    << name;
                ++files;
            }
        EXPECT_EQ(c.files, files) << c.image;
        if (c.files == 0) {
            EXPECT_FALSE(std::filesystem::exists(f.dir.path(fed)));
        }
    }
    run_options piped = here;
    piped.stdin_pipe = true;
    const run_result pipe = run_casstool({"extract", "-", "all", "-d", "piped"}, piped);
    EXPECT_EQ(2, pipe.exit_code);
    EXPECT_EQ("casstool: -: extract all reads the image twice; save the stream to a file first\n",
              pipe.err);
    EXPECT_FALSE(std::filesystem::exists(f.dir.path("piped")));
}

// cassmak's -o /dev/stdout works for every casstool command with an output,
// also into a pipe, which takes just the bytes (join's lines would run into
// its image).
TEST(Casstool, OutputsToDevStdoutIntoAPipe)
{
    SKIP_IF_MISSING(unix_devices_missing());
    tape_fixture f;
    const bytes image = read_file(f.tape);
    const std::string tape(image.begin(), image.end());
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"extract", f.tape, "1", "-o", "/dev/stdout"}, std::string(binary_input)},
        {{"basic", f.tape, "-o", "/dev/stdout"}, run_casstool({"basic", f.tape}).out},
        {{"join", "-o", "/dev/stdout", f.tape, f.tape}, tape + tape},
    };
    for (const auto& c : cases) {
        const run_result r = run_casstool(c.args);
        EXPECT_EQ(0, r.exit_code) << c.args[0] << ": " << r.err;
        EXPECT_EQ("", r.err) << c.args[0];
        EXPECT_EQ(c.out, r.out) << c.args[0];
    }
}

// The conventions of every command: - and -o -, a pipe named as the output,
// --, the system's reason in a failure, "1 byte".
TEST(Casstool, StandardStreamsDashesAndReasons)
{
    tape_fixture f;
    const std::string game = std::string(binary_input);
    struct {
        std::vector<std::string> args;
        int exit_code;
        std::string out;
    } cases[] = {
        {{"extract", f.tape, "1", "-o", "-"}, 0, game},
        {{"basic", f.tape, "-o", "-"}, 0, run_casstool({"basic", f.tape}).out},
        {{"extract", "--", f.tape, "2"}, 0, std::string("\0\x01\xFF", 3)},
    };
    for (const auto& c : cases) {
        const run_result r = run_casstool(c.args);
        EXPECT_EQ(c.exit_code, r.exit_code) << c.args[3] << r.err;
        EXPECT_EQ(c.out, r.out) << c.args[3];
    }
    const run_result twice = run_casstool({"extract", f.tape, "1", "-o", "-", "-o", "x"});
    EXPECT_EQ("casstool: extract: option -o given twice (see 'casstool extract --help')\n",
              twice.err);
    const std::string under_file = f.dir.path("game.bin") + "/x";
    const run_result reason = run_casstool({"extract", f.tape, "1", "-o", under_file});
    EXPECT_EQ(2, reason.exit_code);
    // The system's own words for that path, whatever the system.
    std::FILE* refused = std::fopen(under_file.c_str(), "wb");
    const std::string why = std::strerror(errno);
    ASSERT_EQ(nullptr, refused);
    EXPECT_EQ("casstool: " + under_file + ": cannot open for writing: " + why + "\n", reason.err);

    // A data block one byte long: "1 byte".
    bytes one = stored_file("ONE", to_bytes("ab"));
    one.erase(one.end() - 3, one.end() - 1); // the block holds its checksum only
    one[65] = 1;
    write_file(f.dir.path("one.kst"), one);
    EXPECT_NE(std::string::npos, run_casstool({"list", f.dir.path("one.kst")})
                                     .out.find("data block of 1 byte, header wants 3"));

    if (!have_shell())
        GTEST_SKIP() << "no shell here to give casstool standard input";
    struct {
        std::string command;
        std::string input;
        std::string out;
    } streams[] = {
        {"extract - 1", f.tape, game},
        {"basic -", f.tape, run_casstool({"basic", f.tape}).out},
        {"list -", f.tape, "-: "},
        {"check -", f.dir.path("prog.bas"), ""},
    };
    for (const auto& c : streams) {
        const std::string line = std::string(casstool_path) + " " + c.command + " < " + c.input +
                                 " > " + f.dir.path("stdin.out") + " 2>/dev/null";
        // What it wrote says whether it read the stream; its status may be 1.
        EXPECT_NE(-1, std::system(line.c_str())) << c.command;
        const bytes out = read_file(f.dir.path("stdin.out"));
        EXPECT_EQ(c.out, std::string(out.begin(), out.begin() + std::min(out.size(), c.out.size())))
            << c.command;
        EXPECT_FALSE(out.empty()) << c.command;
    }
}

// Memory does not grow with the number of blocks, lines or warnings: each of
// these once needed far more than 256 MiB.
TEST(Casstool, EditsOfManyBlocksFitA64MiBAddressSpace)
{
    SKIP_IF_MISSING(small_address_space_missing());
    SKIP_IF_MISSING(address_space_limit_missing());
    // A program, then 16 MiB of zeros: 8 million empty blocks, each of
    // which was once a record of about 112 bytes in every edit.
    scratch_dir dir;
    write_file(dir.path("p.bas"), "10 PRINT \"HI\"\n");
    ASSERT_EQ(0, run_cassmak({"-b", "-o", dir.path("p.kst"), dir.path("p.bas")}).exit_code);
    const bytes program = read_file(dir.path("p.kst"));
    const std::size_t zeros = std::size_t{16} << 20;
    const bytes image = concat({program, bytes(zeros)});
    const std::string tape = dir.path("many.kst");
    run_options limited;
    limited.address_space_limit = 64L << 20;
    const auto edit = [&](const std::vector<std::string>& args) {
        write_file(tape, image);
        const run_result r = run_casstool(args, limited);
        EXPECT_EQ(0, r.exit_code) << args[0] << ": " << r.err;
        EXPECT_EQ("", r.err) << args[0];
        return read_file(tape);
    };
    // Every change gives the image it should; the zeros stay zeros.
    EXPECT_TRUE(same_bytes(concat({program, bytes(zeros - 2)}), edit({"rm", tape, "5", "-q"})));
    EXPECT_TRUE(same_bytes(program, edit({"rm", tape, "2-8388609", "-q"})));
    EXPECT_TRUE(same_bytes(concat({bytes(2), program, bytes(zeros - 2)}),
                           edit({"move", tape, "1", "2", "-q"})));
    bytes renamed = edit({"set", tape, "1", "--number", "7", "-q"});
    EXPECT_EQ(7, renamed[2 + 48]);
    EXPECT_TRUE(same_bytes(
        bytes(zeros),
        bytes(renamed.begin() + static_cast<std::ptrdiff_t>(program.size()), renamed.end())));
    EXPECT_TRUE(same_bytes(concat({bytes(4), program, bytes(zeros)}),
                           edit({"copy", tape, "2-3", "--to", tape, "--at", "1", "-q"})));
    // The lines of 2 million entries removed (94 MB) go out whole, without
    // being held in memory.
    write_file(tape, concat({program, bytes(std::size_t{4} << 20)}));
    const run_result all = run_casstool({"rm", tape, "all"}, limited);
    EXPECT_EQ(0, all.exit_code) << all.err;
    EXPECT_EQ(std::size_t{1} + (std::size_t{2} << 20),
              static_cast<std::size_t>(std::count(all.out.begin(), all.out.end(), '\n')));
    EXPECT_TRUE(read_file(tape).empty());
}

TEST(Casstool, RunningOutOfMemoryIsAOneLineFailureAndChangesNothing)
{
    SKIP_IF_MISSING(small_address_space_missing());
    SKIP_IF_MISSING(address_space_limit_missing());
    scratch_dir dir;
    // 1,000 headless blocks of 65,535 bytes: 64 MiB that a change of an
    // image with two names must put together in memory (it is rewritten in
    // place), and a source that copy reads whole. A dry run walks its plan
    // and needs none of it.
    bytes block = hex("FF FF");
    block.resize(65537, 0x11);
    bytes image;
    for (int i = 0; i < 1000; ++i)
        image.insert(image.end(), block.begin(), block.end());
    const std::string big = dir.path("big.kst");
    const std::string tape = dir.path("tape.kst");
    write_file(big, image);
    write_file(tape, block);
    run_options limited;
    limited.address_space_limit = 48L << 20;
    const run_result dry = run_casstool({"rm", big, "1", "--dry-run"}, limited);
    EXPECT_EQ(0, dry.exit_code) << dry.err;
    const std::string rest = dir.path("rest.kst");
    write_file(rest, bytes(image.begin() + static_cast<std::ptrdiff_t>(block.size()), image.end()));
    std::string listed = run_casstool({"list", rest}).out;
    listed.replace(listed.find(rest), rest.size(), big);
    EXPECT_EQ("removed entry 1 (headless block, 65,535 bytes)\n" + listed, dry.out);
    std::filesystem::create_hard_link(big, dir.path("other-name.kst"));
    const run_result in_place = run_casstool({"rm", big, "1"}, limited);
    EXPECT_EQ(2, in_place.exit_code);
    EXPECT_EQ("casstool: " + big + ": cannot be updated: " + std::strerror(ENOMEM) +
                  "; it is left as it was\n",
              in_place.err);
    const run_result copy = run_casstool({"copy", big, "1", "--to", tape}, limited);
    EXPECT_EQ(2, copy.exit_code);
    EXPECT_EQ("casstool: " + big + ": out of memory\n", copy.err);
    EXPECT_EQ(block, read_file(tape));
    EXPECT_EQ(image, read_file(big));
    // A join holds the new image, which does not fit; its dry run lists the
    // entries as they are read and holds none of it.
    const std::string joined = dir.path("joined.kst");
    const run_result join = run_casstool({"join", "-o", joined, tape, big}, limited);
    EXPECT_EQ(2, join.exit_code);
    EXPECT_EQ("casstool: " + big + ": out of memory\n", join.err);
    EXPECT_FALSE(std::filesystem::exists(joined));
    const run_result join_dry =
        run_casstool({"join", "--dry-run", "-o", joined, big, tape}, limited);
    EXPECT_EQ(0, join_dry.exit_code) << join_dry.err;
    write_file(rest, concat({image, block}));
    listed = run_casstool({"list", rest}).out;
    listed.replace(listed.find(rest), rest.size(), joined);
    EXPECT_EQ("joined " + big + " as entries 1 to 1000 (65,537,000 bytes)\njoined " + tape +
                  " as entry 1001 (65,537 bytes)\n" + listed,
              join_dry.out);
    EXPECT_FALSE(std::filesystem::exists(joined));
}

// A join keeps no record per entry: 8 million empty blocks are joined within
// four times the image (a record each once took 1.85 GB).
TEST(Casstool, JoinOfManyEntriesFitsASmallMultipleOfTheImage)
{
    SKIP_IF_MISSING(small_address_space_missing());
    SKIP_IF_MISSING(address_space_limit_missing());
    scratch_dir dir;
    const std::string zeros = dir.path("zeros.kst");
    const bytes image(std::size_t{16} << 20);
    write_file(zeros, image);
    run_options limited;
    limited.address_space_limit = 64L << 20;
    const std::string joined = dir.path("joined.kst");
    const run_result r = run_casstool({"join", "-o", joined, zeros}, limited);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("joined " + zeros + " as entries 1 to 8388608 (16,777,216 bytes)\n", r.out);
    EXPECT_EQ("", r.err);
    EXPECT_TRUE(same_bytes(image, read_file(joined)));
}

TEST(Casstool, CheckBasicAndExtractFitA256MiBAddressSpace)
{
    SKIP_IF_MISSING(small_address_space_missing());
    scratch_dir dir;
    // 4 MiB of "1\n": 2 million lines, each with two warnings (which are
    // turned off, so that the output stays short).
    std::string ones;
    for (int i = 0; i < (1 << 21); ++i)
        ones += "1\n";
    write_file(dir.path("ones.bas"), ones);
    // 2 million empty blocks, then a BASIC program.
    write_file(dir.path("p.bas"), "10 PRINT \"HI\"\n");
    ASSERT_EQ(0, run_cassmak({"-b", "-o", dir.path("p.kst"), dir.path("p.bas")}).exit_code);
    write_file(dir.path("many.kst"),
               concat({bytes(std::size_t{4} << 20), read_file(dir.path("p.kst"))}));
    run_options limited;
    limited.address_space_limit = 256L << 20;

    const run_result check = run_casstool(
        {"check", "-Wno-order", "-Wno-empty-line-number", dir.path("ones.bas")}, limited);
    EXPECT_EQ(1, check.exit_code) << check.err.substr(0, 200);
    EXPECT_EQ(dir.path("ones.bas") + ": 2 warnings\n", check.err);
    const run_result basic = run_casstool({"basic", dir.path("many.kst")}, limited);
    EXPECT_EQ(0, basic.exit_code) << basic.err;
    EXPECT_EQ("10 PRINT \"HI\"\n", basic.out);
    const run_result extract =
        run_casstool({"extract", dir.path("many.kst"), "2097153", "-o", "-"}, limited);
    EXPECT_EQ(0, extract.exit_code) << extract.err;
    EXPECT_EQ(read_file(dir.path("p.kst")).size() - 65 - 3, extract.out.size());
    const run_result missing = run_casstool({"extract", dir.path("many.kst"), "3000000"}, limited);
    EXPECT_EQ("casstool: " + dir.path("many.kst") +
                  ": no entry 3000000; its entries are 1 to 2097153\n",
              missing.err);
}

TEST(Casstool, ChangesSayWhatChangedAndWriteExactlyThat)
{
    tape_fixture f;
    const tape_parts p(read_file(f.tape));
    const std::string prog = "file PROG, " + std::to_string(p.prog.size() - 68) + " bytes";
    const std::string t = f.tape;
    const std::string cut = f.dir.path("cut.kst");
    const std::string bad = f.dir.path("bad.kst");
    const std::string fresh = f.dir.path("new.kst");
    const bytes cut_bytes = concat({p.whole, hex("07 00 01")});
    bytes bad_bytes = p.whole;
    bad_bytes[64] ^= 1; // the header checksum of GAME
    const std::string tail = "entry 4 is damaged (block of 7 bytes cut short after 1)";
    const std::string open_tail = ": refused: entry 4 of " + cut +
                                  " (a truncated tail) can only end an image; what followed it "
                                  "would be read as its part\n";
    const bytes game_set = with_header(p.game, 16, 'B', 0x2000, "DEMO    ");
    struct change_case {
        std::vector<std::string> args;
        int exit_code;
        std::string out;
        std::string err;
        std::string changed; // the image the case writes, or empty
        bytes expected;      // its bytes
    };
    const change_case cases[] = {
        {{"set", t, "1", "--name", "demo", "--number", "0x10", "--type", "B", "--address",
          "020000"},
         0,
         "set entry 1 (file GAME, 300 bytes): name \"DEMO\", number 16, type 'B', address "
         "0x2000\n",
         "",
         t,
         concat({game_set, p.block, p.prog})},
        {{"set", t, "2", "--number", "1"},
         2,
         "",
         "casstool: " + t + ": entry 2 is a headless block: it has no header to set\n",
         "",
         {}},
        {{"set", t, "04", "-q", "--number", "1"},
         2,
         "",
         "casstool: " + t + ": no entry 04; its entries are 1 to 3\n",
         "",
         {}},
        {{"set", bad, "1", "--number", "1"},
         2,
         "",
         "casstool: " + bad + ": entry 1 has a bad header checksum; --force rewrites it anyway\n",
         "",
         {}},
        {{"set", bad, "1", "--force", "--name", "demo", "--number", "16", "--type", "B",
          "--address", "8192"},
         1,
         "set entry 1 (file GAME, 300 bytes): name \"DEMO\", number 16, type 'B', address "
         "0x2000\n",
         "casstool: " + bad + ": entry 1 had a bad header checksum; rewritten with a new one\n",
         bad,
         concat({game_set, p.block, p.prog})},
        {{"set", "-", "1", "--number", "1"},
         2,
         "",
         "casstool: set: standard input cannot be changed; give the image's file name (see "
         "'casstool set --help')\n",
         "",
         {}},
        {{"move", t, "3", "1"},
         0,
         "moved entry 3 (" + prog + ") to entry 1\n",
         "",
         t,
         concat({p.prog, p.game, p.block})},
        {{"move", t, "1", "5"},
         2,
         "",
         "casstool: " + t + ": no entry 5 to move to; its entries are 1 to 3\n",
         "",
         {}},
        {{"move", cut, "4", "1"}, 2, "", "casstool: " + cut + open_tail, "", {}},
        {{"move", cut, "1", "4"}, 2, "", "casstool: " + cut + open_tail, "", {}},
        {{"copy", t, "2-3", "1", "--to", fresh, "--at", "1"},
         0,
         "copied entry 2 (headless block, 3 bytes) as entry 1\ncopied entry 3 (" + prog +
             ") as entry 2\ncopied entry 1 (file GAME, 300 bytes) as entry 3\n",
         "",
         fresh,
         concat({p.block, p.prog, p.game})},
        {{"copy", t, "all", "--to", t, "--at", "2", "-q"},
         0,
         "",
         "",
         t,
         concat({p.game, p.game, p.block, p.prog, p.block, p.prog})},
        {{"copy", t, "1", "--to", t, "--at", "5"},
         2,
         "",
         "casstool: " + t + ": no entry 5 to copy before; its entries are 1 to 3\n",
         "",
         {}},
        {{"copy", t, "3-2", "--to", fresh},
         2,
         "",
         "casstool: " + t + ": range '3-2' runs backwards\n",
         "",
         {}},
        {{"copy", cut, "4", "--to", fresh},
         2,
         "",
         "casstool: " + cut + ": " + tail + "; --force copies it anyway\n",
         "",
         {}},
        {{"copy", cut, "4", "--to", t, "--force"},
         1,
         "copied entry 4 (truncated tail, 3 bytes) as entry 4\n",
         "casstool: " + cut + ": " + tail + "; copied as it is\n",
         t,
         concat({p.whole, hex("07 00 01")})},
        {{"copy", cut, "4", "--to", t, "--at", "1", "--force"},
         2,
         "",
         "casstool: " + t + open_tail,
         "",
         {}},
        {{"join", "-o", fresh, t, bad},
         0,
         "joined " + t + " as entries 1 to 3 (" + std::to_string(p.whole.size()) +
             " bytes)\njoined " + bad + " as entries 4 to 6 (" + std::to_string(p.whole.size()) +
             " bytes)\n",
         "",
         fresh,
         concat({p.whole, bad_bytes})},
        {{"join", "-o", fresh, cut, t, "--force"}, 2, "", "casstool: " + fresh + open_tail, "", {}},
        {{"join", "-o", fresh, cut},
         2,
         "",
         "casstool: " + cut + ": " + tail + "; --force takes it anyway\n",
         "",
         {}},
        {{"join", "-o", f.dir.path("no/such/folder"), t},
         2,
         "",
         "casstool: " + f.dir.path("no/such/folder") +
             ": cannot open for writing: No such file or directory\n",
         "",
         {}},
    };
    for (const change_case& c : cases) {
        write_file(t, p.whole);
        write_file(cut, cut_bytes);
        write_file(bad, bad_bytes);
        std::filesystem::remove(fresh);
        const run_result r = run_casstool(c.args);
        const std::string what = c.args[0] + " " + c.args[2];
        EXPECT_EQ(c.exit_code, r.exit_code) << what;
        EXPECT_EQ(c.out, r.out) << what;
        EXPECT_EQ(c.err, r.err) << what;
        EXPECT_TRUE(same_bytes(c.changed == t ? c.expected : p.whole, read_file(t))) << what;
        EXPECT_TRUE(same_bytes(c.changed == cut ? c.expected : cut_bytes, read_file(cut))) << what;
        EXPECT_TRUE(same_bytes(c.changed == bad ? c.expected : bad_bytes, read_file(bad))) << what;
        EXPECT_EQ(c.changed == fresh, std::filesystem::exists(fresh)) << what;
        if (c.changed == fresh) {
            EXPECT_TRUE(same_bytes(c.expected, read_file(fresh))) << what;
        }
    }
}

TEST(Casstool, DryRunsPrintTheLinesAndTheListAndWriteNothing)
{
    tape_fixture f;
    const bytes before = read_file(f.tape);
    const std::string moved = f.dir.path("moved.kst");
    ASSERT_EQ(0, run_casstool({"move", f.tape, "2", "1", "-q"}).exit_code);
    const bytes after = read_file(f.tape);
    write_file(moved, after);
    write_file(f.tape, before);
    const std::string listed = run_casstool({"list", moved}).out;
    const std::string list_body = listed.substr(listed.find('\n'));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"move", f.tape, "2", "1", "--dry-run"},
          std::vector<std::string>{"move", f.tape, "2", "1", "--dry-run", "-q"}}) {
        const run_result r = run_casstool(args);
        EXPECT_EQ(0, r.exit_code);
        EXPECT_EQ("moved entry 2 (headless block, 3 bytes) to entry 1\n" + f.tape + ": " +
                      std::to_string(after.size()) + " bytes" + list_body,
                  r.out);
        EXPECT_TRUE(same_bytes(before, read_file(f.tape)));
    }
    const std::string fresh = f.dir.path("fresh.kst");
    const run_result copy = run_casstool({"copy", f.tape, "2", "--to", fresh, "--dry-run"});
    EXPECT_EQ("copied entry 2 (headless block, 3 bytes) as entry 1\n" + fresh +
                  ": 5 bytes\nentry   offset  kind       no  type   addr    length  name      "
                  "    checksums\n    1        0  headless    -  -      -            3  -      "
                  "       -\n0 files, 1 headless block, all checksums good\n",
              copy.out);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const run_result join = run_casstool({"join", "--dry-run", "-o", fresh, f.tape});
    EXPECT_EQ(0U, join.out.find("joined " + f.tape + " as entries 1 to 3 (")) << join.out;
    EXPECT_NE(std::string::npos,
              join.out.find("\n" + fresh + ": " + std::to_string(before.size()) + " bytes\n"));
    EXPECT_FALSE(std::filesystem::exists(fresh));
    SKIP_IF_MISSING(slash_separated_paths_missing());
    const run_result split = run_casstool({"split", "--dry-run", f.tape, "-d", f.dir.path("")});
    EXPECT_EQ(0, split.exit_code) << split.err;
    EXPECT_NE(std::string::npos, split.out.find("wrote entry 2 (headless block, 3 bytes) to " +
                                                f.dir.path("02-headless.kst") + "\n"));
    EXPECT_NE(std::string::npos, split.out.find(f.dir.path("02-headless.kst") + ": 5 bytes\n"));
    EXPECT_FALSE(std::filesystem::exists(f.dir.path("02-headless.kst")));
}

TEST(Casstool, ExtractAllAndSplitMakeAMissingFolderAndWordItsFailureAlike)
{
    tape_fixture f;
    // A missing folder, with one above it, is made; the files go in.
    const std::string parts = f.dir.path("a/parts");
    run_result r = run_casstool({"split", f.tape, "-d", parts, "-q"});
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ(read_file(f.tape).size(), read_file(parts + "/01-GAME.kst").size() +
                                            read_file(parts + "/02-headless.kst").size() +
                                            read_file(parts + "/03-PROG.kst").size());
    r = run_casstool({"extract", f.tape, "all", "-d", f.dir.path("b/c"), "-q"});
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ(binary_input.size(), read_file(f.dir.path("b/c/01-GAME.bin")).size());
    // A dry run or a refusal makes none.
    EXPECT_EQ(0, run_casstool({"split", f.tape, "-d", f.dir.path("dry"), "--dry-run"}).exit_code);
    EXPECT_FALSE(std::filesystem::exists(f.dir.path("dry")));
    // One that cannot be made, or a file in its place, is worded one way,
    // with the system's reason.
    const std::string under_file = f.dir.path("game.bin") + "/x";
    for (const char* command : {"split", "extract"}) {
        std::vector<std::string> args = {command, f.tape};
        if (std::string(command) == "extract")
            args.push_back("all");
        for (const auto& [folder, why] :
             {std::pair{under_file, under_file + ": cannot make the folder: "},
              std::pair{f.dir.path("game.bin"), f.dir.path("game.bin") + ": not a folder\n"}}) {
            std::vector<std::string> with = args;
            with.insert(with.end(), {"-d", folder});
            const run_result failed = run_casstool(with);
            EXPECT_EQ(2, failed.exit_code) << command;
            EXPECT_EQ(0U, failed.err.rfind("casstool: " + why, 0)) << command << ": " << failed.err;
            EXPECT_EQ(1, std::count(failed.err.begin(), failed.err.end(), '\n')) << failed.err;
            EXPECT_EQ("", failed.out) << command;
        }
    }
}

TEST(Casstool, SplitThenJoinGivesTheImageBack)
{
    tape_fixture f;
    // Names a folder must not take: a path, control bytes, an empty name and
    // two entries of one name; later a tail cut short.
    write_file(f.dir.path("x.bin"), "x");
    for (const char* name : {"../x", "/", "\x1B[2J", "", "../x"})
        ASSERT_EQ(
            0, run_cassmak({"-append", "-m", name, "-o", f.tape, f.dir.path("x.bin")}).exit_code);
    bytes tape = read_file(f.tape);
    const std::vector<std::string> names = {"01-GAME.kst", "02-headless.kst", "03-PROG.kst",
                                            "04-.._X.kst", "05-_.kst",        "06-__2J.kst",
                                            "07.kst",      "08-.._X.kst"};
    const auto split_and_join = [&](const std::string& folder,
                                    const std::vector<std::string>& expected, bool force) {
        std::filesystem::create_directory(folder);
        std::vector<std::string> split = {"split", f.tape, "-d", folder, "-q"};
        if (force)
            split.push_back("--force");
        const run_result r = run_casstool(split);
        EXPECT_EQ(force ? 1 : 0, r.exit_code) << r.err;
        EXPECT_EQ("", r.out);
        std::vector<std::string> found;
        for (const auto& file : std::filesystem::directory_iterator(folder))
            found.push_back(file.path().filename().string());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(expected, found);
        std::vector<std::string> join = {"join", "-o", "-"};
        if (force)
            join.push_back("--force");
        for (const std::string& name : found)
            join.push_back(folder + "/" + name);
        const run_result joined = run_casstool(join);
        EXPECT_EQ(force ? 1 : 0, joined.exit_code) << joined.err;
        EXPECT_TRUE(same_bytes(tape, to_bytes(joined.out)));
    };
    const std::string out = f.dir.path("parts");
    split_and_join(out, names, false);

    // An existing file is kept, and nothing is written.
    write_file(out + "/02-headless.kst", "old");
    std::filesystem::remove(out + "/01-GAME.kst");
    const run_result exists = run_casstool({"split", f.tape, "-d", out});
    EXPECT_EQ(2, exists.exit_code);
    EXPECT_EQ("casstool: " + out + folder_separator() +
                  "02-headless.kst: exists; --force replaces it\n",
              exists.err);
    EXPECT_EQ("", exists.out);
    EXPECT_TRUE(same_bytes(to_bytes("old"), read_file(out + "/02-headless.kst")));
    EXPECT_FALSE(std::filesystem::exists(out + "/01-GAME.kst"));
    // Not even --force writes through a link out of the folder, where links
    // can be made; the rest of the test runs either way.
    if (!symbolic_links_missing()) {
        write_file(f.dir.path("elsewhere"), "keep");
        std::filesystem::create_symlink("../elsewhere", out + "/01-GAME.kst");
        const run_result linked = run_casstool({"split", f.tape, "-d", out, "--force"});
        EXPECT_EQ(2, linked.exit_code);
        EXPECT_EQ("casstool: " + out + "/01-GAME.kst: is a symbolic link; it is not followed\n",
                  linked.err);
        EXPECT_TRUE(same_bytes(to_bytes("keep"), read_file(f.dir.path("elsewhere"))));
    }

    // A tail cut short only with --force.
    tape.push_back(0x07);
    write_file(f.tape, tape);
    const std::string cut = f.dir.path("cut");
    std::filesystem::create_directory(cut);
    const run_result refused = run_casstool({"split", f.tape, "-d", cut});
    EXPECT_EQ(2, refused.exit_code);
    EXPECT_EQ("casstool: " + f.tape +
                  ": entry 9 is damaged (1 byte, too short for a length field); --force writes "
                  "it anyway\n",
              refused.err);
    EXPECT_TRUE(std::filesystem::is_empty(cut));
    std::vector<std::string> with_tail = names;
    with_tail.push_back("09-truncated.kst");
    split_and_join(cut, with_tail, true);
}

TEST(Casstool, EditsRacingAppendsAreEachAppliedOnce)
{
    tape_fixture f;
    const std::size_t before = read_file(f.tape).size();
    constexpr int runs = 20;
    std::vector<std::thread> threads;
    std::vector<int> codes(2 * runs, -1);
    for (int i = 0; i < runs; ++i) {
        const std::string input = f.dir.path("a" + std::to_string(i) + ".bin");
        write_file(input, "append " + std::to_string(i));
        threads.emplace_back([&, i, input] {
            codes[2 * i] =
                run_cassmak({"-append", "-m", "A" + std::to_string(i), "-o", f.tape, input})
                    .exit_code;
        });
        // Each copies the first entry to the front: the image under the lock.
        threads.emplace_back([&, i] {
            codes[2 * i + 1] =
                run_casstool({"copy", f.tape, "1", "--to", f.tape, "--at", "1", "-q"}).exit_code;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::vector<int>(2 * runs, 0), codes);
    const run_result listed = run_casstool({"list", "--json", f.tape});
    ASSERT_EQ(0, listed.exit_code) << listed.err;
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = listed.out.find(text); at != std::string::npos;
             at = listed.out.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(runs + 1U, count("\"name\":\"GAME    \""));
    for (int i = 0; i < runs; ++i) {
        std::string name = "A" + std::to_string(i);
        name.resize(8, ' ');
        EXPECT_EQ(1U, count("\"name\":\"" + name + "\"")) << name;
    }
    // Each copy is the file GAME (368 bytes); each append a file of "append N".
    EXPECT_EQ(before + runs * 368U + runs * 68U + 10 * 8 + 10 * 9, read_file(f.tape).size());
}

namespace {

// A small tmpfs of its own, where the system lets this run mount one.
struct small_tmpfs {
    scratch_dir dir;
    bool mounted = false;
    explicit small_tmpfs(const char* size)
    {
        const std::string command = std::string("mount -t tmpfs -o size=") + size + " tmpfs " +
                                    dir.root().string() + " 2>/dev/null";
        mounted = std::system(command.c_str()) == 0;
    }
    ~small_tmpfs()
    {
        if (mounted) {
            [[maybe_unused]] const int status =
                std::system(("umount " + dir.root().string()).c_str());
        }
    }
    small_tmpfs(const small_tmpfs&) = delete;
    small_tmpfs& operator=(const small_tmpfs&) = delete;
};

std::vector<std::string> files_in(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(folder))
        names.push_back(file.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// An image of `count` headless blocks of 65,535 bytes, each byte its block's number.
bytes big_image(int count)
{
    bytes image;
    for (int i = 0; i < count; ++i) {
        image.push_back(0xFF);
        image.push_back(0xFF);
        image.insert(image.end(), 65535, static_cast<std::uint8_t>(i));
    }
    return image;
}

} // namespace

TEST(Casstool, AFullDiskLeavesTheOldImage)
{
    // Under a file size limit, and on a small file system with no room left.
    SKIP_IF_MISSING(file_size_limit_missing());
    tape_fixture f;
    const bytes before = read_file(f.tape);
    run_options limited;
    limited.file_size_limit = static_cast<long>(before.size()) + 100;
    const run_result r = run_casstool({"copy", f.tape, "all", "--to", f.tape}, limited);
    EXPECT_EQ(2, r.exit_code);
    EXPECT_EQ("casstool: " + f.tape + ": cannot be updated: File too large; it is left as it was\n",
              r.err);
    EXPECT_EQ("", r.out);
    EXPECT_TRUE(same_bytes(before, read_file(f.tape)));
    EXPECT_EQ((std::vector<std::string>{"game.bin", "prog.bas", "table.dat", "tape.kst"}),
              files_in(f.dir.root()));

    small_tmpfs disk("512k");
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs can be mounted here; only the file size limit was tried";
    const std::string image = disk.dir.path("full.kst");
    const bytes big = big_image(4);
    write_file(image, big);
    // Fill what is left, so that neither a second image nor a longer one fits.
    std::filesystem::path filler = disk.dir.path("filler");
    {
        std::FILE* file = std::fopen(filler.string().c_str(), "wb");
        ASSERT_NE(nullptr, file);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        std::fclose(file);
    }
    const run_result full = run_casstool({"copy", image, "1", "--to", image});
    EXPECT_EQ(2, full.exit_code);
    EXPECT_EQ("casstool: " + image +
                  ": cannot be updated: No space left on device; it is left as it was\n",
              full.err);
    EXPECT_TRUE(same_bytes(big, read_file(image)));
    EXPECT_EQ((std::vector<std::string>{"filler", "full.kst"}), files_in(disk.dir.root()));
}

TEST(Casstool, AReadOnlyFolderLeavesTheOldImage)
{
    SKIP_IF_MISSING(read_only_folders_missing());
    small_tmpfs disk("256k");
    const bool root = running_as_superuser();
    if (root && !disk.mounted)
        GTEST_SKIP() << "running as root, which permissions do not stop, and no tmpfs mounts";
    const std::string image = disk.dir.path("tape.kst");
    const bytes before = concat({hex("03 00 01 02 03"), hex("01 00 09")});
    write_file(image, before);
    std::string reason = "Permission denied";
    if (root) {
        ASSERT_EQ(0, std::system(("mount -o remount,ro " + disk.dir.root().string()).c_str()));
        reason = "Read-only file system";
    } else {
        std::filesystem::permissions(image, std::filesystem::perms::owner_read);
        std::filesystem::permissions(disk.dir.root(), std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_exec);
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"rm", image, "1"},
          std::vector<std::string>{"copy", image, "1", "--to", image},
          std::vector<std::string>{"move", image, "2", "1"}}) {
        const run_result r = run_casstool(args);
        EXPECT_EQ(2, r.exit_code) << args[0];
        EXPECT_EQ("casstool: " + image + ": cannot be updated: " + reason +
                      "; it is left as it was\n",
                  r.err);
        EXPECT_TRUE(same_bytes(before, read_file(image))) << args[0];
    }
    EXPECT_EQ(std::vector<std::string>{"tape.kst"}, files_in(disk.dir.root()));
    if (root)
        EXPECT_EQ(0, std::system(("mount -o remount,rw " + disk.dir.root().string()).c_str()));
    else
        std::filesystem::permissions(disk.dir.root(), std::filesystem::perms::owner_all);
}

TEST(Casstool, ASignalDuringAnEditLeavesAWholeImage)
{
    SKIP_IF_MISSING(signals_missing());
    // An edit of 8 MiB, ended by a signal after ever longer delays: the image
    // is the old one or the new one, never a part of either.
    scratch_dir dir;
    const std::string image = dir.path("big.kst");
    const bytes old = big_image(128);
    const bytes edited(old.begin() + 65537, old.end());
    int old_seen = 0;
    int new_seen = 0;
    for (int round = 0; round < 10; ++round) {
        write_file(image, old);
        if (HasFatalFailure())
            return;
        const bool held = round % 2 == 0;
        end_casstool_by_signal({"rm", "-q", image, "1"}, round / 2 * 10, !held);
        if (HasFatalFailure())
            return;
        const bytes now = read_file(image);
        const bool is_old = now == old;
        const bool is_new = now == edited;
        EXPECT_TRUE(is_old || is_new) << "round " << round << ": " << now.size() << " bytes";
        old_seen += is_old ? 1 : 0;
        new_seen += is_new ? 1 : 0;
        // A held signal lets the change finish and clean up; SIGKILL may
        // leave the temporary file, never a torn image.
        if (held) {
            EXPECT_EQ(std::vector<std::string>{"big.kst"}, files_in(dir.root())) << round;
        }
        for (const std::string& name : files_in(dir.root()))
            if (name != "big.kst")
                std::filesystem::remove(dir.path(name));
    }
    EXPECT_GT(old_seen + new_seen, 0);
}
