#include "page_api.h"

#include "basic/checker.h"
#include "basic/pack.h"
#include "support.h"
#include "tape/blocks.h"
#include "tape/reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace cassmak::core;

TEST(PageApi, TapeEntriesGiveTheListColumnsAndWhereThePayloadLies)
{
    output_image image;
    const std::uint8_t payload[] = {0xAB};
    put_tape_file(image, payload, 1, '?', 3, "a\xE9", 0x1234);
    put_headless_block(image, payload, 1);
    image.push_back(0x05); // a truncated tail
    const held_tape tape = hold_tape(image);
    EXPECT_EQ(tape_rows_json(tape, 0, 10),
              "{\"entries\":[{\"entry\":1,\"offset\":0,\"kind\":\"file\",\"length\":1,\"number\":3,"
              "\"type\":\"?\",\"address\":4660,\"name\":\"A\xC3\xA9      \",\"checksums\":\"good\","
              "\"problem\":\"\",\"payload_offset\":67,\"payload_size\":1},"
              "{\"entry\":2,\"offset\":69,\"kind\":\"headless\",\"length\":1,\"checksums\":\"-\","
              "\"problem\":\"\",\"payload_offset\":71,\"payload_size\":1},"
              "{\"entry\":3,\"offset\":72,\"kind\":\"truncated\",\"length\":1,\"checksums\":\"-\","
              "\"problem\":\"" +
                  read_tape_image(image.data(), image.size())[2].problem +
                  "\",\"payload_offset\":72,\"payload_size\":1}]}");
    EXPECT_EQ(held_tape_json(tape), "{\"count\":3,\"size\":73,\"damaged\":true}");
    image.pop_back();
    EXPECT_EQ(held_tape_json(hold_tape(image)), "{\"count\":2,\"size\":72,\"damaged\":false}");
}

// Any window of rows is the same rows as the whole list gives, across the
// marks the held tape keeps and past its end.
TEST(PageApi, EveryWindowOfRowsIsTheListsRows)
{
    output_image image;
    for (std::uint8_t i = 0; i < 200; ++i) {
        const std::uint8_t payload[] = {i, i};
        if (i % 7 == 0)
            put_tape_file(image, payload, 2, '?', i, "f", i);
        else
            put_headless_block(image, payload, i % 3);
    }
    const held_tape tape = hold_tape(image);
    ASSERT_EQ(tape.count, 200u);
    const std::string all = tape_rows_json(tape, 0, tape.count);
    // Each row's text, by the position of its opening brace.
    std::vector<std::string> rows;
    for (std::size_t at = all.find('{', 1); at != std::string::npos;) {
        const std::size_t end = all.find("},{", at);
        rows.push_back(all.substr(at, (end == std::string::npos ? all.size() - 2 : end + 1) - at));
        at = end == std::string::npos ? end : end + 2;
    }
    ASSERT_EQ(rows.size(), 200u);
    for (std::size_t first : {0, 1, 63, 64, 65, 127, 128, 150, 199, 200, 500}) {
        for (std::size_t count : {0, 1, 64, 100}) {
            std::string expected = "{\"entries\":[";
            for (std::size_t i = first; i < std::min<std::size_t>(first + count, 200); ++i)
                expected += (i == first ? "" : ",") + rows[i];
            EXPECT_EQ(tape_rows_json(tape, first, count), expected + "]}") << first << " " << count;
        }
    }
}

TEST(PageApi, TapeSizesAreRefusedAsCasstoolRefusesThem)
{
    const std::uint64_t gib = std::uint64_t{1} << 30;
    const std::string refused = "gib.kst: larger than 1 GiB, not a tape image";
    const struct {
        std::uint64_t size;
        std::string message;
    } cases[] = {{0, ""}, {gib, ""}, {gib + 1, refused}, {0xFFFFFFFF, refused}};
    for (const auto& c : cases)
        EXPECT_EQ(c.message, tape_size_message("gib.kst", c.size)) << c.size;
    // casstool's words for the same file.
    SKIP_IF_MISSING(sparse_files_missing());
    scratch_dir dir;
    std::ofstream(dir.path("gib.kst")).close();
    std::filesystem::resize_file(dir.path("gib.kst"), gib + 1);
    run_options in_dir;
    in_dir.cwd = dir.root().string();
    EXPECT_EQ("casstool: " + refused + "\n", run_casstool({"list", "gib.kst"}, in_dir).err);
}

TEST(PageApi, JsonStringsEscapeQuotesAndControlBytes)
{
    std::string out;
    append_json_string(out, std::string_view("\"\\\n\x7F\x01", 5));
    EXPECT_EQ(out, "\"\\\"\\\\\\n\x7F\\u0001\"");
}

// The page shows the fixes of the check's table in the docs; the two must not
// drift apart.
TEST(PageApi, EveryKindHasTheDocumentedFix)
{
    std::ifstream readme(CASSMAK_CHECK_FIXES);
    ASSERT_TRUE(readme) << CASSMAK_CHECK_FIXES;
    std::stringstream text;
    text << readme.rdbuf();
    for (std::size_t i = 0; i < check_kinds().size(); ++i) {
        const std::string_view kind = check_kinds()[i];
        const std::string_view fix = check_kind_fix(static_cast<check_kind>(i));
        ASSERT_FALSE(fix.empty()) << kind;
        const std::string row_end = " | " + std::string(fix) + " |\n";
        const std::string row_start = "| `" + std::string(kind) + "` |";
        const std::size_t at = text.str().find(row_start);
        ASSERT_NE(at, std::string::npos) << kind;
        EXPECT_EQ(text.str().find(row_end, at), text.str().find('\n', at) + 1 - row_end.size())
            << kind;
    }
}

TEST(PageApi, SourceWarningsCarryPositionKindAndFix)
{
    const std::string json = source_warnings_json("10 print 1\n");
    EXPECT_NE(json.find("\"line\":1,\"column\":4,\"kind\":\"lower-case-keyword\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"fix\":\"write keywords in upper case\""), std::string::npos) << json;
    EXPECT_EQ(source_warnings_json("10 PRINT 1\n"), "{\"warnings\":[]}");
}

// The page checks each field as cassmak checks the option, with its message.
TEST(PageApi, FieldMessagesAreCassmaks)
{
    const char* values[] = {
        "",      "0",     "0x1234", "01234",    "12abc",    "abc",       "08",   "0x", "-1",
        "65535", "65536", "99",     "100",      " ",        "+",         "0 ",   "1 ", "4294967296",
        "A",     "AB",    "\x7F",   "\xC3\xA9", "ABCDEFGH", "ABCDEFGHI", "0b101"};
    for (header_field field :
         {header_field::address, header_field::number, header_field::type, header_field::name}) {
        for (const char* value : values) {
            const run_result tool = run_cassmak({field_option(field), value});
            const std::string said = field_message(field, value);
            if (said.empty())
                EXPECT_EQ(tool.err.rfind("Input file not specified!", 0), 0u)
                    << field_option(field) << " '" << value << "': " << tool.err;
            else
                EXPECT_EQ(said + "\n\n", tool.err) << field_option(field) << " '" << value << "'";
        }
    }
}

namespace {

// The warnings cassmak prints among its progress lines, as the page lists them.
std::string warnings_json_of(const std::string& progress)
{
    std::string out = "\"warnings\":[";
    std::stringstream pieces(progress);
    std::string piece;
    while (std::getline(pieces, piece, '\r')) {
        if (piece.rfind("Line: ", 0) != 0)
            continue;
        const std::size_t tab = piece.find('\t');
        const std::string number = piece.substr(6, tab - 6);
        for (std::size_t at = tab; at != std::string::npos; at = piece.find('\t', at + 1)) {
            const std::size_t end = piece.find('\n', at);
            out += std::string(out.back() == '[' ? "" : ",") + "{\"line\":" + number +
                   ",\"text\":\"" + piece.substr(at + 1, end - at - 1) + "\"}";
        }
    }
    return out + "]";
}

// The page's form for what cassmak's OPTIONS give.
pack_form form_of(const std::vector<std::string>& options)
{
    pack_form form;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i] == "-b") {
            form.basic = true;
        } else if (options[i] == "-hless") {
            form.headless = true;
        } else {
            const char* word = options[i] == "-m"   ? "name"
                               : options[i] == "-n" ? "number"
                               : options[i] == "-t" ? "type"
                                                    : "address";
            form.fields.emplace_back(header_field_named(word), options.at(i + 1));
            ++i;
        }
    }
    return form;
}

} // namespace

// One file on the page is what cassmak makes of it with the same options:
// the bytes, the failure message, the import's warnings.
TEST(PageApi, PackedFilesAreCassmaks)
{
    std::string large;
    for (int i = 0; i < 10000; ++i)
        large += "1 A\n"; // 6-byte records: over the image limit
    struct row {
        std::vector<std::string> options;
        std::string name;
        std::string input;
    };
    const row rows[] = {
        {{}, "game.bin", "\x01\x02\x03"},
        {{"-n", "3", "-a", "0x4000", "-t", "B", "-m", "demo"}, "x.bin", "abc"},
        {{"-hless"}, "t.dat", std::string(300, '\xAA')},
        {{"-b", "-n", "7"},
         "prog.bas",
         "20 print\r\n10 PRINT \"" + std::string(80, 'X') + "\n30\n"},
        {{"-b", "-m", "a.b"}, "-b", "10 END\n"},
        {{"-b"}, "big.bas", large},
        {{"-b"}, "tiny.bas", "1 A\n"},
        {{}, "empty.bin", ""},
        {{}, "full.bin", std::string(65534, 'x')},
        {{"-a", "70000"}, "a.bin", "a"},
        {{"-hless", "-n", "1"}, "a.bin", "a"},
    };
    for (const row& r : rows) {
        scratch_dir dir;
        write_file(dir.path(r.name), r.input);
        std::vector<std::string> args = r.options;
        args.push_back(r.name == "-b" ? "./-b" : r.name);
        run_options in_dir;
        in_dir.cwd = dir.root().string();
        const run_result tool = run_cassmak(args, in_dir);
        const packed_file packed =
            pack_file(form_of(r.options), r.name,
                      reinterpret_cast<const std::uint8_t*>(r.input.data()), r.input.size());
        const std::string json = packed_file_json(packed);
        if (tool.exit_code == 0) {
            EXPECT_EQ(packed.message, "") << r.name;
            EXPECT_TRUE(same_bytes(read_file(dir.path(r.name) + ".kst"), packed.image)) << r.name;
        } else {
            EXPECT_EQ(packed.message + "\n\n", tool.err) << r.name;
            EXPECT_TRUE(packed.image.empty()) << r.name;
        }
        EXPECT_NE(json.find(warnings_json_of(tool.out)), std::string::npos)
            << r.name << "\n"
            << json << "\n"
            << warnings_json_of(tool.out);
    }
}

// The problems of a source as casstool prints them for SOURCE, from the
// page's JSON: "SOURCE:LINE:COLUMN: SEVERITY: MESSAGE [KIND]\n" each.
std::string problem_lines(const std::string& json, const std::string& key, const char* severity,
                          const std::string& source = "s.bas")
{
    std::string text;
    const std::size_t list = json.find("\"" + key + "\":[");
    const std::size_t end = json.find(']', list);
    for (std::size_t at = json.find("{\"line\":", list); at < end;
         at = json.find("{\"line\":", at + 1)) {
        auto value = [&](const std::string& name) {
            const std::size_t from = json.find("\"" + name + "\":", at) + name.size() + 3;
            const bool quoted = json[from] == '"';
            return json.substr(from + quoted,
                               json.find(quoted ? "\"" : ",", from + quoted) - from - quoted);
        };
        text += source + ":" + value("line") + ":" + value("column") + ": " + severity + ": " +
                value("message") + " [" + value("kind") + "]\n";
    }
    return text;
}

// The page renumbers as casstool renum does, to the byte, and refuses what
// it refuses, with the same problems at the same places.
TEST(PageApi, RenumberingIsCasstoolRenum)
{
    struct row {
        std::string source, start, step;
        bool refused;
    };
    const row rows[] = {
        {"@top: PRINT \"\\@\"\n  GOTO @top\n100 GOSUB 7\n\n40 ON X GOTO @top,100\n", "100", "5",
         false},
        {"10 GOTO @nowhere\n@a: PRINT\n@a: END\n", "10", "10", true},
        {"1 A\n2 B\n3 C\n", "65520", "10", true},
    };
    for (const row& r : rows) {
        scratch_dir dir;
        write_file(dir.path("s.bas"), r.source);
        run_options in_dir;
        in_dir.cwd = dir.root().string();
        const run_result tool =
            run_casstool({"renum", "s.bas", "--start", r.start, "--step", r.step}, in_dir);
        const std::string json = renumbered_source_json(r.source, r.start, r.step);
        EXPECT_EQ(tool.exit_code == 2, r.refused) << tool.err;
        EXPECT_EQ(json.find("\"refused\":true") == 1, r.refused) << json;
        std::string text = "\"text\":";
        append_json_string(text, tool.out);
        EXPECT_NE(json.find(text + ","), std::string::npos) << json << "\n" << tool.out;
        const std::string problems =
            problem_lines(json, "errors", "error") + problem_lines(json, "warnings", "warning");
        EXPECT_EQ(tool.err.substr(0, problems.size()), problems) << json;
    }
    EXPECT_NE(renumbered_source_json("1 A\n", "x", "10")
                  .find("\"message\":\"the start takes 0 "
                        "to 65535, not 'x'\""),
              std::string::npos);
    EXPECT_NE(renumbered_source_json("1 A\n", "10", "0").find("\"refused\":true"),
              std::string::npos);
}

// A BASIC source with labels or unnumbered lines is stored as casstool add
// --basic stores it; its label errors refuse it. (A name without a dot:
// casstool add takes the tape name from the file's name less its extension,
// the page from the whole name, as cassmak does.)
TEST(PageApi, LabelledSourcesArePackedAsCasstoolAddPacksThem)
{
    const std::string sources[] = {"@loop: PRINT 1\nGOTO @loop\n", "10 GOTO @none\n"};
    for (const std::string& source : sources) {
        scratch_dir dir;
        write_file(dir.path("prog"), source);
        run_options in_dir;
        in_dir.cwd = dir.root().string();
        const run_result tool = run_casstool({"add", "-q", "t.kst", "prog", "--basic"}, in_dir);
        pack_form form;
        form.basic = true;
        const packed_file packed = pack_file(
            form, "prog", reinterpret_cast<const std::uint8_t*>(source.data()), source.size());
        if (tool.exit_code == 0) {
            EXPECT_EQ(packed.message, "");
            EXPECT_TRUE(same_bytes(read_file(dir.path("t.kst")), packed.image));
        } else {
            EXPECT_EQ(problem_lines(packed_file_json(packed), "errors", "error", "prog") +
                          "casstool: " + packed.message + "\n",
                      tool.err);
            EXPECT_TRUE(packed.image.empty());
        }
    }
}

namespace {

bytes sample_tape()
{
    bytes image;
    const std::uint8_t payload[] = {1, 2, 3};
    put_tape_file(image, payload, 3, '?', 1, "one", 0x1000);
    put_headless_block(image, payload, 2);
    put_tape_file(image, payload, 1, 'B', 2, "three", 0x2000);
    image.insert(image.end(), {0x09, 0x00, 0x41}); // a block cut short
    return image;
}

} // namespace

// Removing an entry gives what casstool rm leaves, also before a file cut
// short in its data block, which stays at the end.
TEST(PageApi, RemovingIsCasstoolRm)
{
    bytes cut = sample_tape();
    cut.resize(cut.size() - 3 - 2);
    for (const bytes& image : {sample_tape(), cut}) {
        for (std::size_t i = 0; i < 4; ++i) {
            scratch_dir dir;
            write_file(dir.path("t.kst"), image);
            ASSERT_EQ(
                run_casstool({"rm", "-q", dir.path("t.kst"), std::to_string(i + 1)}).exit_code, 0);
            const edited_tape edited = remove_tape_entry(image, i);
            EXPECT_EQ(edited.message, "");
            EXPECT_TRUE(same_bytes(read_file(dir.path("t.kst")), edited.image)) << i;
        }
        EXPECT_EQ(remove_tape_entry(image, 4).message, "there is no entry 5");
    }
}

// A move and the move back give the image again; the entry cut short may
// only stay last.
TEST(PageApi, MovesGoBackAndKeepTheOpenEntryLast)
{
    const bytes image = sample_tape();
    for (std::size_t from = 0; from < 4; ++from) {
        for (std::size_t to = 0; to < 4; ++to) {
            const edited_tape there = move_tape_entry(image, from, to);
            const bool open_inside = (from == 3 && to != 3) || (to == 3 && from != 3);
            EXPECT_EQ(there.message.empty(), !open_inside) << from << " to " << to;
            if (open_inside) {
                EXPECT_EQ(there.message,
                          "entry 4 is cut short and keeps its meaning only at the end of the tape");
                continue;
            }
            const std::vector<tape_entry> entries =
                read_tape_image(there.image.data(), there.image.size());
            ASSERT_EQ(entries.size(), 4u);
            EXPECT_TRUE(same_bytes(move_tape_entry(there.image, to, from).image, image))
                << from << " to " << to;
        }
    }
}

// A retagged file is the file written with the new fields; an empty field
// keeps its value, and a value the rules refuse changes nothing.
TEST(PageApi, RetaggingRewritesTheHeader)
{
    const bytes image = sample_tape();
    const edited_tape edited = retag_tape_entry(image, 2, {"new.1", "0x63", "%", "65535"});
    ASSERT_EQ(edited.message, "");
    bytes expected;
    const std::uint8_t payload[] = {1, 2, 3};
    put_tape_file(expected, payload, 3, '?', 1, "one", 0x1000);
    put_headless_block(expected, payload, 2);
    put_tape_file(expected, payload, 1, '%', 99, "NEW.1", 0xFFFF);
    expected.insert(expected.end(), {0x09, 0x00, 0x41});
    EXPECT_TRUE(same_bytes(expected, edited.image));
    EXPECT_TRUE(same_bytes(image, retag_tape_entry(image, 0, {}).image));
    bytes damaged = image; // a bad header checksum is rewritten without asking
    damaged[block_length_size + header_checksum_offset] ^= 1;
    EXPECT_TRUE(same_bytes(image, retag_tape_entry(damaged, 0, {}).image));
    EXPECT_EQ(retag_tape_entry(image, 3, {}).message,
              "entry 4 is a truncated block and has no header to change");
    EXPECT_EQ(retag_tape_entry(image, 1, {"x", "", "", ""}).message,
              "entry 2 is a headless block and has no header to change");
    const std::pair<std::string, std::string> refused[] = {
        {"name", "ABCDEFGHI"}, {"number", "100"},    {"number", "12abc"}, {"type", "AB"},
        {"type", " "},         {"address", "65536"}, {"address", "0x"},   {"address", "08"},
    };
    for (const auto& [field, value] : refused) {
        const std::string message = retag_message(field, value);
        EXPECT_NE(message, "") << field << " " << value;
        retag_fields fields;
        (field == "name"     ? fields.name
         : field == "number" ? fields.number
         : field == "type"   ? fields.type
                             : fields.address) = value;
        const edited_tape refusal = retag_tape_entry(image, 0, fields);
        EXPECT_EQ(refusal.message, message);
        EXPECT_TRUE(refusal.image.empty());
    }
}

// A program listed on the page and packed again is the same program.
TEST(PageApi, ListingRoundTrip)
{
    const std::string source = "10 REM \xE9t\xE9\n20 PRINT \"A\";B:GOTO 10\n";
    const packed_file packed =
        pack_file(form_of({"-b"}), "p.bas", reinterpret_cast<const std::uint8_t*>(source.data()),
                  source.size());
    ASSERT_EQ(packed.message, "");
    const std::size_t payload_at = 2 + header_body_size + 2;
    const std::size_t payload_size = packed.image.size() - payload_at - 1;
    std::string text;
    append_json_string(text, source);
    EXPECT_EQ(basic_listing_json(packed.image.data() + payload_at, payload_size),
              "{\"text\":" + text + ",\"warnings\":[]}");
}

// The page shows as defaults what cassmak stores when the field is not given.
TEST(PageApi, DefaultsAreWhatCassmakStores)
{
    EXPECT_EQ(page_defaults_json("hello.bin"),
              "{\"name\":\"HELLO\",\"binary\":{\"-n\":\"0\",\"-t\":\"?\",\"-a\":\"0\"},"
              "\"basic\":{\"-n\":\"0\",\"-t\":\">\",\"-a\":\"0x2401\"},\"basic_type\":\">\","
              "\"name_width\":8}");
    const std::uint8_t payload[] = {0x20, 0x20, 0x20, 0x20, 0x0A};
    for (const std::string name : {"hello.bin", "a.b.c", "longername.bin", "x y", "d\\e.f", ""}) {
        const packed_file packed = pack_file({}, name, payload, sizeof payload);
        ASSERT_EQ(packed.message, "") << name;
        const tape_entry entry = read_tape_image(packed.image.data(), packed.image.size())[0];
        std::string stored(entry.name.begin(), entry.name.end());
        stored.erase(stored.find_last_not_of(' ') + 1);
        const std::string json = page_defaults_json(name);
        EXPECT_EQ(json.substr(0, json.find(",\"binary\"")), "{\"name\":\"" + stored + "\"") << name;
    }
}
