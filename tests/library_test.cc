// The library as a consumer sees it, through its public headers only: what
// it makes, lists and changes is what the tools make, list and change from
// the same inputs, byte for byte, messages and statuses included.
#include "cassmak/cassmak.h"

#include "support.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <tuple>

namespace {

std::vector<std::uint8_t> random_bytes(std::mt19937& random, std::size_t size)
{
    std::vector<std::uint8_t> out(size);
    for (std::uint8_t& byte : out)
        byte = static_cast<std::uint8_t>(random());
    return out;
}

std::string text_of(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// What casstool prints on standard error for the message.
std::string tool_error(const std::string& message)
{
    return "casstool: " + message + "\n";
}

TEST(Library, MakesAndListsWhatTheToolsMakeAndList)
{
    scratch_dir dir;
    std::mt19937 random(23);
    struct made {
        std::vector<std::string> options;
        cassmak::made_tape tape;
    };
    const std::vector<std::uint8_t> data = random_bytes(random, 300);
    const std::string program = "10 PRINT \"HI\"\n20 GOTO 10\n5 REM BACK\n";
    const made cases[] = {
        {{"-m", "hello", "-n", "7", "-t", "B", "-a", "0x4000"},
         cassmak::make_file(data.data(), data.size(), {"hello", 7, 'B', 0x4000})},
        {{"-m", "", "-t", "~"}, cassmak::make_file(data.data(), data.size(), {"", 0, '~', 0})},
        {{"-hless"}, cassmak::make_headless(data.data(), data.size())},
        {{"-b", "-m", "prog", "-n", "99"}, cassmak::import_basic(program, "prog", 99)},
    };
    std::vector<std::uint8_t> joined;
    for (const made& one : cases) {
        const bool basic = one.options[0] == "-b";
        const std::string input = dir.path(basic ? "in.bas" : "in.bin");
        basic ? write_file(input, program) : write_file(input, data);
        std::vector<std::string> args = one.options;
        args.insert(args.end(), {"-o", dir.path("out.kst"), input});
        const run_result run = run_cassmak(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        ASSERT_EQ(one.tape.status, 0) << one.tape.message;
        EXPECT_TRUE(same_bytes(read_file(dir.path("out.kst")), one.tape.image));
        joined.insert(joined.end(), one.tape.image.begin(), one.tape.image.end());
    }
    // The program's warning (line 5 after 20) as cassmak prints it.
    ASSERT_EQ(cases[3].tape.warnings.size(), 1u);
    EXPECT_EQ(cases[3].tape.warnings[0].text, "Wrong order of line. Last line 20");
    // Damage at the end: a truncated tail.
    joined.insert(joined.end(), {0x09, 0x00, 0x01});
    const std::string path = dir.path("all.kst");
    write_file(path, joined);
    const cassmak::text_result table = cassmak::list_table(joined.data(), joined.size(), path);
    const cassmak::text_result json = cassmak::list_json(joined.data(), joined.size(), path);
    const run_result listed = run_casstool({"list", path});
    const run_result listed_json = run_casstool({"list", "--json", path});
    EXPECT_EQ(table.text, listed.out);
    EXPECT_EQ(json.text, listed_json.out);
    EXPECT_EQ(table.status, listed.exit_code);
    EXPECT_EQ(json.status, 1);
    const cassmak::tape_contents contents = cassmak::read_tape(joined.data(), joined.size());
    ASSERT_EQ(contents.entries.size(), 5u);
    EXPECT_EQ(contents.entries[4].kind, cassmak::entry_kind::truncated);
    EXPECT_EQ(contents.entries[0].address, 0x4000);

    const cassmak::entry& stored = contents.entries[3];
    const cassmak::basic_text text =
        cassmak::list_basic(joined.data() + stored.payload_offset, stored.payload_size);
    const run_result basic = run_casstool({"basic", path, "4", "-o", dir.path("out.bas")});
    EXPECT_EQ(text.text, text_of(read_file(dir.path("out.bas"))));
    EXPECT_EQ(text.status, basic.exit_code);
}

TEST(Library, RefusesAsTheToolsRefuse)
{
    scratch_dir dir;
    const std::string input = dir.path("in.bin");
    write_file(input, std::string_view(""));
    const struct {
        std::vector<std::string> options;
        cassmak::made_tape tape;
    } cases[] = {
        {{}, cassmak::make_file(nullptr, 0, {}, input)},
        {{"-a", "65536"}, cassmak::make_file(nullptr, 0, {"", 0, '?', 65536})},
        {{"-n", "100"}, cassmak::make_file(nullptr, 0, {"", 100, '?', 0})},
        {{"-t", " "}, cassmak::make_file(nullptr, 0, {"", 0, ' ', 0})},
        {{"-m", "ninechars"}, cassmak::make_file(nullptr, 0, {"ninechars", 0, '?', 0})},
        {{"-b"}, cassmak::import_basic("10", "", 0, input)},
    };
    for (const auto& one : cases) {
        std::vector<std::string> args = one.options;
        args.insert(args.end(), {"-o", dir.path("out.kst"), input});
        const run_result run = run_cassmak(args);
        EXPECT_EQ(one.tape.status, run.exit_code) << run.err;
        EXPECT_EQ(one.tape.message + "\n\n", run.err);
        EXPECT_TRUE(one.tape.image.empty());
    }
}

// Every change of the library against the command that makes it, on one
// image with a damaged entry: the new bytes, the lines, the notes and the
// refusals.
TEST(Library, ChangesAsCasstoolChanges)
{
    scratch_dir dir;
    std::mt19937 random(1);
    std::vector<std::uint8_t> image;
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::uint8_t> data = random_bytes(random, 10 + i);
        const cassmak::made_tape made = cassmak::make_file(
            data.data(), data.size(), {"F" + std::to_string(i), i, 'D', 0x100 * i});
        image.insert(image.end(), made.image.begin(), made.image.end());
    }
    const std::vector<std::uint8_t> damaged = {0x05, 0x00, 0x01, 0x02};
    const std::string path = dir.path("tape.kst");
    const std::string source = dir.path("source.kst");
    std::vector<std::uint8_t> source_image = image;
    source_image.insert(source_image.end(), damaged.begin(), damaged.end());
    // An empty source has no entry to copy, not the target's own.
    const std::string empty = dir.path("empty.kst");
    write_file(empty, std::vector<std::uint8_t>{});

    // A file added is named after its own file name.
    const std::string added = dir.path("f.bin");
    write_file(added, damaged);
    const std::vector<std::uint8_t> made =
        cassmak::make_file(damaged.data(), damaged.size(), {"F", 0, '?', 0}).image;

    const struct {
        std::vector<std::string> args;
        cassmak::change_result result;
    } cases[] = {
        {{"rm", path, "2-3"}, cassmak::remove_entries(image, {"2-3"}, path)},
        {{"rm", path, "3-2"}, cassmak::remove_entries(image, {"3-2"}, path)},
        {{"rm", path, "9"}, cassmak::remove_entries(image, {"9"}, path)},
        {{"set", path, "2", "--name", "new", "--address", "0x8000"},
         cassmak::retag_entry(image, 2, {"new", {}, {}, "0x8000"}, false, path)},
        {{"set", path, "1", "--number", "100"},
         cassmak::retag_entry(image, 1, {{}, "100", {}, {}}, false, path)},
        {{"set", path, "5", "--type", "X"},
         cassmak::retag_entry(image, 5, {{}, {}, "X", {}}, false, path)},
        {{"move", path, "4", "1"}, cassmak::move_entry(image, 4, 1, path)},
        {{"move", path, "1", "7"}, cassmak::move_entry(image, 1, 7, path)},
        {{"copy", source, "5", "1", "--to", path, "--at", "2", "--force"},
         cassmak::insert_entries(image, source_image, {"5", "1"}, 2, true, path, source)},
        {{"copy", source, "5", "--to", path},
         cassmak::insert_entries(image, source_image, {"5"}, std::nullopt, false, path, source)},
        {{"copy", empty, "1", "--to", path},
         cassmak::insert_entries(image, {}, {"1"}, std::nullopt, false, path, empty)},
        {{"add", path, added}, cassmak::add_entries(image, made, {added}, false, path)},
        // Entry numbers as typed, named so in a refusal.
        {{"set", path, "x", "--number", "1"},
         cassmak::retag_typed_entry(image, "x", {{}, "1", {}, {}}, false, path)},
        {{"set", path, "18446744073709551618", "--number", "1"},
         cassmak::retag_typed_entry(image, "18446744073709551618", {{}, "1", {}, {}}, false, path)},
        {{"set", path, "3", "--type", "Q"},
         cassmak::retag_typed_entry(image, "3", {{}, {}, "Q", {}}, false, path)},
        {{"move", path, "1x", "1"}, cassmak::move_typed_entry(image, "1x", "1", path)},
        {{"move", path, "1", "2-3"}, cassmak::move_typed_entry(image, "1", "2-3", path)},
        {{"move", path, "1", "99999999999999999999"},
         cassmak::move_typed_entry(image, "1", "99999999999999999999", path)},
        {{"move", path, "04", "1"}, cassmak::move_typed_entry(image, "04", "1", path)},
        {{"copy", source, "1", "--to", path, "--at", "end"},
         cassmak::insert_entries_typed(image, source_image, {"1"}, "end", false, path, source)},
        {{"copy", source, "1", "--to", path, "--at", "18446744073709551616"},
         cassmak::insert_entries_typed(image, source_image, {"1"}, "18446744073709551616", false,
                                       path, source)},
        {{"copy", source, "2", "--to", path, "--at", "3"},
         cassmak::insert_entries_typed(image, source_image, {"2"}, "3", false, path, source)},
        {{"renum", path, "x"}, cassmak::renumber_typed_entry(image, "x", 10, 10, path)},
        {{"renum", path, "18446744073709551617"},
         cassmak::renumber_typed_entry(image, "18446744073709551617", 10, 10, path)},
    };
    for (const auto& one : cases) {
        write_file(path, image);
        write_file(source, source_image);
        const run_result run = run_casstool(one.args);
        SCOPED_TRACE(one.args[0] + " " + one.args[2]);
        ASSERT_EQ(one.result.status, run.exit_code) << run.err;
        std::string notes;
        for (const std::string& note : one.result.notes)
            notes += tool_error(note);
        if (one.result.status == 2) {
            // A value the command line cannot hold (a field set cannot
            // store, an entry that is no number) is a usage error there,
            // worded alike.
            const std::string usage = one.args[0] + ": " + one.result.message + " (see 'casstool " +
                                      one.args[0] + " --help')";
            const bool typed = one.result.message.find("is not") != std::string::npos;
            EXPECT_EQ(tool_error(typed ? usage : one.result.message), run.err);
            EXPECT_TRUE(same_bytes(image, read_file(path)));
            continue;
        }
        EXPECT_EQ(one.result.lines, run.out);
        EXPECT_EQ(notes, run.err);
        EXPECT_TRUE(same_bytes(read_file(path), one.result.image));
    }

    // join and split, through the files they write.
    write_file(path, image);
    write_file(source, source_image);
    const std::string output = dir.path("joined.kst");
    const cassmak::change_result joined =
        cassmak::join_tapes({image, source_image}, {path, source}, output, true);
    const run_result join = run_casstool({"join", "-o", output, path, source, "--force"});
    EXPECT_EQ(joined.status, join.exit_code);
    EXPECT_EQ(joined.lines, join.out);
    EXPECT_TRUE(same_bytes(read_file(output), joined.image));

    const cassmak::split_result split = cassmak::split_tape(source_image, true, "source.kst");
    const run_result run = run_casstool({"split", "source.kst", "--force"}, {dir.root().string()});
    EXPECT_EQ(split.status, run.exit_code);
    EXPECT_EQ(split.lines, run.out);
    ASSERT_EQ(split.pieces.size(), 5u);
    for (const cassmak::split_piece& piece : split.pieces)
        EXPECT_TRUE(same_bytes(read_file(dir.path(piece.file_name)), piece.image));
}

// The index and the entries read from it are read_tape's, whatever the
// slices they are read in; past the last entry there are none.
TEST(Library, ReadsEntriesFromTheIndexAsReadTapeReadsThem)
{
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> image;
        const std::size_t pieces = random() % 12;
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::vector<std::uint8_t> data = random_bytes(random, 1 + random() % 40);
            const unsigned kind = random() % 4;
            const cassmak::made_tape made =
                kind == 0 ? cassmak::make_file(data.data(), data.size(), {"F", 1, 'D', 0x100})
                          : cassmak::make_headless(data.data(), data.size());
            std::vector<std::uint8_t> bytes = made.image;
            if (kind == 2) // a byte of the data changed: a bad checksum, a damaged block
                bytes[bytes.size() / 2] ^= 0x5A;
            if (kind == 3) // an empty block
                bytes = {0, 0};
            image.insert(image.end(), bytes.begin(), bytes.end());
        }
        const std::vector<std::uint8_t> tail = random_bytes(random, random() % 3);
        image.insert(image.end(), tail.begin(), tail.end());
        const cassmak::tape_contents whole = cassmak::read_tape(image.data(), image.size());
        const cassmak::tape_index index = cassmak::index_tape(image.data(), image.size());
        ASSERT_EQ(index.status, 0);
        ASSERT_EQ(index.offsets.size(), whole.entries.size());
        std::vector<cassmak::entry> read;
        const std::size_t slice = 1 + random() % 5;
        int status = 0;
        for (std::size_t first = 0; first <= whole.entries.size(); first += slice) {
            cassmak::tape_contents some =
                cassmak::read_entries(image.data(), image.size(), index, first, slice);
            EXPECT_EQ(some.entries.size(), std::min(slice, whole.entries.size() - first));
            read.insert(read.end(), some.entries.begin(), some.entries.end());
            status = std::max(status, some.status);
        }
        EXPECT_EQ(status, whole.status);
        EXPECT_TRUE(cassmak::read_entries(image.data(), image.size(), index, read.size(), SIZE_MAX)
                        .entries.empty());
        ASSERT_EQ(read.size(), whole.entries.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            const cassmak::entry& a = read[i];
            const cassmak::entry& b = whole.entries[i];
            EXPECT_EQ(std::tie(a.position, a.offset, a.span, a.kind, a.length, a.number, a.type,
                               a.address, a.name, a.header_checksum_good, a.data, a.payload_offset,
                               a.payload_size, a.problem, a.kind_name, a.checksum_words),
                      std::tie(b.position, b.offset, b.span, b.kind, b.length, b.number, b.type,
                               b.address, b.name, b.header_checksum_good, b.data, b.payload_offset,
                               b.payload_size, b.problem, b.kind_name, b.checksum_words))
                << "round " << round << ", entry " << i + 1;
        }
    }
}

// A number for cassmak's -n and -a, as cassmak reads one (C's strtol: a
// text without digits is 0, digits end at the first character that is none).
TEST(Library, ParsesNumbersAsCassmakDoes)
{
    const std::pair<std::string, long> cases[] = {
        {"0x4000", 0x4000},
        {"010", 8},
        {"99", 99},
        {"0", 0},
        {"0x", -1},
        {"", 0},
        {"x", -1},
        {"-1", -1},
        {"1y", 1},
        {" 5", 5},
        {std::string("1\0", 2), -1},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(cassmak::parse_cassmak_number(text), value) << text;
}

TEST(Library, SavesThroughTheSafeWriter)
{
    scratch_dir dir;
    const std::string path = dir.path("saved.kst");
    const std::vector<std::uint8_t> image = {0x01, 0x00, 0x2A};
    EXPECT_EQ(cassmak::save_tape(path, image).status, 0);
    EXPECT_TRUE(same_bytes(image, read_file(path)));
    // A transform that throws leaves the file as it was.
    const cassmak::write_result thrown = cassmak::update_output(
        path, false,
        [](const std::vector<std::uint8_t>&, bool, std::vector<std::uint8_t>&) -> bool {
            throw std::runtime_error("no");
        });
    EXPECT_EQ(thrown.status, 2);
    EXPECT_EQ(thrown.outcome, cassmak::write_outcome::declined);
    EXPECT_TRUE(same_bytes(image, read_file(path)));
    const cassmak::write_result missing = cassmak::save_tape(dir.path("no/such.kst"), image);
    EXPECT_EQ(missing.status, 2);
    const run_result run = run_casstool({"rm", dir.path("no/such.kst"), "1"});
    EXPECT_EQ(tool_error(cassmak::update_output(dir.path("no/such.kst"), false,
                                                [](const std::vector<std::uint8_t>&, bool,
                                                   std::vector<std::uint8_t>&) { return true; })
                             .message),
              run.err);
    const cassmak::loaded_image loaded = cassmak::load_image(dir.path("none.kst"));
    EXPECT_EQ(tool_error(loaded.message), run_casstool({"list", dir.path("none.kst")}).err);
    EXPECT_EQ(loaded.status, 2);
    EXPECT_EQ(cassmak::load_image(path).image, image);
    // The 1.x name says the same.
    const cassmak::loaded_tape old = cassmak::load_tape(dir.path("none.kst"));
    EXPECT_EQ(std::tie(old.status, old.message), std::tie(loaded.status, loaded.message));
    EXPECT_EQ(cassmak::load_tape(path).bytes, image);
}

TEST(Library, ChecksAsCasstoolChecks)
{
    scratch_dir dir;
    const std::string source = dir.path("prog.bas");
    const std::string text = "\xEF\xBB\xBF"
                             "10 print \"x\n5 GOTO 10\nREM\n";
    write_file(source, text);
    const cassmak::source_check check = cassmak::check_source(text);
    std::string lines;
    for (const cassmak::diagnostic& warning : check.diagnostics)
        lines += cassmak::format_diagnostic(source, warning);
    const run_result run = run_casstool({"check", source});
    EXPECT_EQ(lines, run.out);
    EXPECT_EQ(check.status, run.exit_code);
    EXPECT_EQ(cassmak::check_kinds().size(), 17u);
    EXPECT_EQ(cassmak::version(), CASSMAK_LIBRARY_VERSION);
    // The headers' macros name the same version.
    EXPECT_EQ(CASSMAK_VERSION_STRING, cassmak::version());
    EXPECT_EQ(std::to_string(CASSMAK_VERSION_MAJOR) + "." + std::to_string(CASSMAK_VERSION_MINOR) +
                  "." + std::to_string(CASSMAK_VERSION_PATCH),
              cassmak::version());
}

// Renumbering a source, its references and a program on a tape, as
// casstool renum does them.
TEST(Library, RenumbersAsCasstoolRenumbers)
{
    scratch_dir dir;
    const std::string text = "@top: PRINT\n5 GOTO @top:GOSUB 5:RUN 77\n";
    write_file(dir.path("p.bas"), text);
    const cassmak::renumbered_source done = cassmak::renumber_source(text, 100, 5);
    const run_result run =
        run_casstool({"renum", "p.bas", "--start", "100", "--step", "5"}, {dir.root().string()});
    EXPECT_EQ(done.text, run.out);
    EXPECT_EQ(done.text, "100 PRINT\n105 GOTO 100:GOSUB 105:RUN 77\n");
    ASSERT_EQ(done.warnings.size(), 1u);
    EXPECT_EQ(cassmak::format_diagnostic("p.bas", done.warnings[0]), run.err);
    EXPECT_EQ(done.status, run.exit_code);
    EXPECT_EQ(cassmak::number_source("1 A\n").text, "1 A\n");
    // Numbers the command line cannot give: a step of 0 would number every
    // line alike.
    for (const auto& [start, step, why] :
         {std::tuple{10u, 0u, "the step must be 1 to 65535, not 0"},
          std::tuple{10u, 65536u, "the step must be 1 to 65535, not 65536"},
          std::tuple{65536u, 1u, "the start must be 0 to 65535, not 65536"}}) {
        const cassmak::renumbered_source refused = cassmak::renumber_source(text, start, step);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.message, why);
        EXPECT_EQ(refused.text, "");
    }

    std::string references;
    for (const cassmak::source_reference& r : cassmak::source_references(text))
        references += std::to_string(r.line) + ":" + std::to_string(r.column) + " " + r.written +
                      (r.label ? " label\n" : "\n");
    EXPECT_EQ(references, "2:8 @top label\n2:19 5\n2:25 77\n");

    const cassmak::made_tape packed = cassmak::import_basic(run.out, "P");
    ASSERT_EQ(packed.status, 0) << packed.message;
    write_file(dir.path("t.kst"), packed.image);
    const cassmak::change_result renumbered =
        cassmak::renumber_entry(packed.image, 1, 1, 1, "t.kst");
    const run_result tool =
        run_casstool({"renum", "t.kst", "1", "--start", "1", "--step", "1"}, {dir.root().string()});
    EXPECT_EQ(renumbered.lines, tool.out);
    EXPECT_EQ(renumbered.status, tool.exit_code);
    EXPECT_EQ(renumbered.image, read_file(dir.path("t.kst")));
    EXPECT_EQ(renumbered.image,
              cassmak::import_basic("1 PRINT\n2 GOTO 1:GOSUB 2:RUN 77\n", "P").image);
    const cassmak::change_result refused = cassmak::renumber_entry(packed.image, 1, 10, 0, "t.kst");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.message,
              "t.kst: entry 1: the step must be 1 to 65535, not 0; not renumbered");
}

// The shared library's dynamic symbols are the public API and its version
// node, nothing of the core or of the standard library's templates.
TEST(Library, SharedLibraryExportsOnlyThePublicApi)
{
    const std::string library = CASSMAK_SHARED_LIBRARY;
    if (library.empty())
        GTEST_SKIP() << "this platform builds the static library only";
    scratch_dir dir;
    const std::string listing = dir.path("symbols.txt");
    ASSERT_EQ(run_shell("nm -D --defined-only '" + library + "' | c++filt >'" + listing + "'"), 0);
    std::istringstream lines(text_of(read_file(listing)));
    std::size_t exported = 0;
    for (std::string line; std::getline(lines, line);) {
        // "ADDRESS TYPE NAME"
        const std::string name = line.substr(line.find(' ', line.find(' ') + 1) + 1);
        if (name == "CASSMAK_1")
            continue;
        EXPECT_EQ(name.rfind("cassmak::", 0), 0u) << line;
        EXPECT_EQ(name.find("cassmak::detail"), std::string::npos) << line;
        EXPECT_NE(name.find("@@CASSMAK_1"), std::string::npos) << line;
        ++exported;
    }
    // Every function of the public headers.
    EXPECT_EQ(exported, 35u);
}

// join_tapes keeps no record per entry: 8 million empty blocks are joined
// within the new image's room and a little more, beyond what the process
// holds already (a record each once took 1.85 GB).
TEST(Library, JoinOfManyEntriesTakesLittleMoreThanTheNewImage)
{
    SKIP_IF_MISSING(small_address_space_missing());
    SKIP_IF_MISSING(address_space_limit_missing());
    const std::size_t size = std::size_t{16} << 20;
    const std::vector<std::vector<std::uint8_t>> images{std::vector<std::uint8_t>(size)};
    EXPECT_EQ(0, run_with_address_space_room(size + (8 << 20), [&] {
                  const cassmak::change_result joined = cassmak::join_tapes(images, {"zeros.kst"});
                  return joined.status == 0 && joined.image == images[0] ? 0 : 1;
              }));
}

} // namespace
