#include "tape/edit.h"

#include "tape/blocks.h"
#include "tape/changes.h"
#include "tape/reader.h"
#include "tape/spans.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

using namespace cassmak::core;

namespace {

// The model: an image is its entries' bytes, one string each, and an edit is
// done on that list directly. The code under test works on the bytes.
struct model_entry {
    bytes data;
    bool open = false;   // a truncated tail or a header without its data block
    bool header = false; // has a header that `set` may rewrite
};
using model = std::vector<model_entry>;

bytes flatten(const model& m)
{
    bytes out;
    for (const model_entry& e : m)
        out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

bytes random_bytes(std::mt19937& rng, std::size_t count)
{
    bytes out(count);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

// One whole entry of a random kind: a sound file, one with a bad header or
// data checksum, one whose data block has the wrong length or is empty, a
// headless block; `last` adds the kinds that can only end an image.
model_entry random_entry(std::mt19937& rng, bool last)
{
    const unsigned kind = rng() % (last ? 9 : 7);
    const std::size_t length = 1 + rng() % 40;
    const bytes payload = random_bytes(rng, length);
    bytes file;
    put_tape_file(file, payload.data(), static_cast<int>(length),
                  static_cast<char>('!' + rng() % 90), static_cast<int>(rng() % 100),
                  "N" + std::to_string(rng() % 1000), static_cast<int>(rng() % 65536));
    model_entry e;
    e.header = true;
    switch (kind) {
    case 0:
    case 1: break;
    case 2: file[2 + header_checksum_offset] ^= 1 + rng() % 255; break;
    case 3: file.back() ^= 1 + rng() % 255; break;
    case 4: // a data block of another length than the header says
        file.resize(65);
        {
            const bytes other = random_bytes(rng, rng() % 50);
            file.push_back(static_cast<std::uint8_t>(other.size()));
            file.push_back(0);
            file.insert(file.end(), other.begin(), other.end());
        }
        break;
    case 5:
        e.header = false;
        file.clear();
        put_headless_block(file, payload.data(), static_cast<int>(length));
        if (rng() % 4 == 0) // an empty block
            file.resize(2), file[0] = 0;
        break;
    case 6: // a header whose data block holds a header
        file.resize(65);
        file.insert(file.end(), file.begin(), file.begin() + 65);
        break;
    case 7: // a header and nothing after it
        file.resize(65);
        e.open = true;
        break;
    default: // a tail cut short: a length field promising more than follows
        e.header = false;
        e.open = true;
        file = rng() % 3 == 0 ? bytes{0x17} : concat({hex("FF 00"), random_bytes(rng, rng() % 9)});
        break;
    }
    e.data = file;
    return e;
}

model random_model(std::mt19937& rng)
{
    model m;
    const std::size_t count = rng() % 7;
    for (std::size_t i = 0; i < count; ++i)
        m.push_back(random_entry(rng, i + 1 == count));
    return m;
}

bool open_inside(const model& m)
{
    for (std::size_t i = 0; i + 1 < m.size(); ++i)
        if (m[i].open)
            return true;
    return false;
}

TEST(Spans, TheWalkOfBoundsFindsTheReadersEntriesAndTheHeadsDescribeThem)
{
    // Random images, and the same ones cut short anywhere: the walk that
    // reads only length fields and sync patterns groups them as the reader
    // does, and a head read alone says what the whole entry says.
    std::mt19937 rng(25);
    for (int round = 0; round < 2000; ++round) {
        bytes image = flatten(random_model(rng));
        if (round % 2 == 1 && !image.empty())
            image.resize(rng() % image.size());
        const std::vector<tape_entry> entries = read_tape_image(image.data(), image.size());
        const image_bytes_reader read = [&](std::uint64_t at, std::uint8_t* into,
                                            std::size_t count) {
            if (at > image.size() || count > image.size() - at)
                return false;
            std::copy(image.begin() + static_cast<std::ptrdiff_t>(at),
                      image.begin() + static_cast<std::ptrdiff_t>(at + count), into);
            return true;
        };
        std::size_t walked = 0;
        ASSERT_TRUE(
            walk_entry_bounds(image.size(), read, [&](std::size_t i, const entry_bounds& b) {
                EXPECT_LT(i, entries.size());
                if (i >= entries.size())
                    return false;
                const tape_entry& e = entries[i];
                EXPECT_EQ(e.offset, b.offset) << round << " entry " << i;
                EXPECT_EQ(e.span, b.span) << round << " entry " << i;
                EXPECT_EQ(e.kind, b.kind) << round << " entry " << i;
                EXPECT_EQ(entry_is_open(e), b.open) << round << " entry " << i;
                tape_entry head;
                EXPECT_TRUE(read_entry_head(read, b, i, head));
                EXPECT_EQ(e.length, head.length);
                EXPECT_EQ(e.name, head.name);
                EXPECT_EQ(e.number, head.number);
                EXPECT_EQ(e.type, head.type);
                EXPECT_EQ(e.address, head.address);
                EXPECT_EQ(e.header_checksum_good, head.header_checksum_good);
                std::vector<std::uint8_t> window;
                tape_entry whole;
                EXPECT_TRUE(read_entry(read, b, i, window, whole));
                EXPECT_EQ(e.problem, whole.problem);
                EXPECT_EQ(e.data_checksum, whole.data_checksum);
                ++walked;
                return true;
            }));
        EXPECT_EQ(entries.size(), walked) << round;
    }
    // A failed read ends the walk with false.
    const bytes image = flatten({random_entry(rng, false), random_entry(rng, false)});
    EXPECT_FALSE(walk_entry_bounds(
        image.size() + 100, [](std::uint64_t, std::uint8_t*, std::size_t) { return false; },
        [](std::size_t, const entry_bounds&) { return true; }));
}

TEST(Spans, APlanJoinsTheSpansThatMeetAndGivesItsBytes)
{
    std::vector<plan_piece> plan;
    add_old_span(plan, 0, 3);
    add_old_span(plan, 3, 2);
    add_old_span(plan, 9, 0);
    const std::uint8_t fresh[] = {0xEE};
    plan.push_back({fresh, 0, 1});
    add_old_span(plan, 5, 1);
    add_old_span(plan, 1, 1);
    ASSERT_EQ(4U, plan.size());
    EXPECT_EQ(5U, plan[0].count);
    const bytes old = hex("00 01 02 03 04 05");
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(assemble_plan(
        plan,
        [&](std::uint64_t at, std::uint8_t* into, std::size_t count) {
            std::copy(old.begin() + static_cast<std::ptrdiff_t>(at),
                      old.begin() + static_cast<std::ptrdiff_t>(at + count), into);
            return true;
        },
        out));
    EXPECT_EQ(hex("00 01 02 03 04 EE 05 01"), out);
}

} // namespace

// The planned changes, made into bytes, against the model's list of entries
// (a header rewritten against what the reader finds in it); and a plan read
// through plan_reader, or made in place, gives the same bytes as made.
TEST(Spans, PlannedChangesMatchTheModel)
{
    std::mt19937 rng(25);
    for (int round = 0; round < 3000; ++round) {
        const model m = random_model(rng);
        const model other = random_model(rng);
        const bytes image = flatten(m);
        const bytes source = flatten(other);
        const std::size_t count = m.size();
        const image_bytes_reader read = memory_reader(image.data(), image.size());
        change_plan plan;
        model expected;
        bool refused = false;
        std::optional<std::size_t> set_at; // the file whose header `set` rewrites
        header_change set;
        switch (rng() % 4) {
        case 0: { // rm
            std::vector<std::string> words;
            for (std::size_t i = 0; i < count; ++i)
                if (rng() % 3 == 0)
                    words.push_back(std::to_string(i + 1));
                else
                    expected.push_back(m[i]);
            if (words.empty())
                words.push_back("all"), expected.clear();
            ASSERT_TRUE(plan_remove({image.size(), read}, "t", words, {}, plan));
            break;
        }
        case 1: { // move
            if (count == 0)
                continue;
            const std::size_t from = rng() % count;
            const std::size_t to = rng() % count;
            expected = m;
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(from));
            expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(to), m[from]);
            refused = open_inside(expected);
            ASSERT_TRUE(plan_move({image.size(), read}, "t", "", from + 1, "", to + 1, {}, plan));
            break;
        }
        case 2: { // copy, from the other image or from itself
            const bool within = rng() % 2 == 0;
            const model& from = within ? m : other;
            if (from.empty())
                continue;
            std::vector<std::string> words;
            model copied;
            for (std::size_t n = 1 + rng() % 3; n > 0; --n) {
                const std::size_t i = rng() % from.size();
                words.push_back(std::to_string(i + 1));
                copied.push_back(from[i]);
            }
            const std::size_t at = rng() % (count + 1);
            expected = m;
            expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at), copied.begin(),
                            copied.end());
            refused = open_inside(expected);
            ASSERT_TRUE(plan_copy({image.size(), read}, "t", within ? nullptr : source.data(),
                                  source.size(), "s", words, std::to_string(at + 1), at + 1, true,
                                  {}, plan));
            break;
        }
        default: { // set
            std::vector<std::size_t> files;
            for (std::size_t i = 0; i < count; ++i)
                if (m[i].header)
                    files.push_back(i);
            if (files.empty())
                continue;
            set_at = files[rng() % files.size()];
            header_change& change = set;
            if (rng() % 2)
                change.number = static_cast<std::uint8_t>(rng() % 100);
            if (rng() % 2)
                change.type = static_cast<std::uint8_t>('!' + rng() % 90);
            if (rng() % 2)
                change.address = static_cast<std::uint16_t>(rng());
            if (rng() % 2) {
                std::string name(1 + rng() % name_width, 'A');
                for (char& c : name)
                    c = static_cast<char>('A' + rng() % 26);
                ASSERT_TRUE(make_name_field(name, change.name.emplace()));
            }
            ASSERT_TRUE(
                plan_set({image.size(), read}, "t", "", *set_at + 1, change, true, {}, plan));
            break;
        }
        }
        ASSERT_EQ(refused, plan.status == change_refused) << round << ": " << plan.message;
        if (refused)
            continue;
        bytes made;
        ASSERT_TRUE(assemble_plan(plan.pieces, read, made));
        if (set_at) {
            // The fields given, a good checksum, and no byte changed outside
            // the file head and its checksum.
            const std::vector<tape_entry> before = read_tape_image(image.data(), image.size());
            const std::vector<tape_entry> after = read_tape_image(made.data(), made.size());
            ASSERT_EQ(before.size(), after.size()) << round;
            const tape_entry& old_entry = before[*set_at];
            const tape_entry& entry = after[*set_at];
            EXPECT_EQ(set.number.value_or(old_entry.number), entry.number) << round;
            EXPECT_EQ(set.type.value_or(old_entry.type), entry.type) << round;
            EXPECT_EQ(set.address.value_or(old_entry.address), entry.address) << round;
            EXPECT_EQ(set.name.value_or(old_entry.name), entry.name) << round;
            EXPECT_TRUE(entry.header_checksum_good) << round;
            const std::size_t head = old_entry.offset + block_length_size + file_head_offset;
            bytes outside = made;
            bytes old_outside = image;
            for (bytes* b : {&outside, &old_outside})
                b->erase(b->begin() + static_cast<std::ptrdiff_t>(head),
                         b->begin() + static_cast<std::ptrdiff_t>(head + file_head_size + 1));
            ASSERT_TRUE(same_bytes(old_outside, outside)) << round;
        } else {
            ASSERT_TRUE(same_bytes(flatten(expected), made)) << round;
        }
        bytes through(static_cast<std::size_t>(plan_size(plan.pieces)));
        ASSERT_TRUE(plan_reader(plan.pieces, read)(0, through.data(), through.size()));
        ASSERT_TRUE(same_bytes(made, through)) << round;
        // In place, where the plan allows it, the same bytes.
        bytes held = image;
        if (assemble_plan_in_place(plan.pieces, held)) {
            ASSERT_TRUE(same_bytes(made, held)) << round;
        }
    }
}

// Split, and joined again in order, an image comes back; two joined are
// the one after the other, unless an entry that takes in whatever follows
// it would be followed by another.
TEST(EditImage, SplitAndJoin)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const model m = random_model(rng);
        const bytes image = flatten(m);
        const split_plan split = plan_split(image.data(), image.size(), "t", true);
        ASSERT_EQ(m.size(), split.parts.size());
        std::vector<bytes> parts;
        for (const split_part& part : split.parts)
            parts.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(part.offset),
                               image.begin() +
                                   static_cast<std::ptrdiff_t>(part.offset + part.span));
        const change_outcome joined =
            join_change(parts, std::vector<std::string>(parts.size(), "p"), "j", true);
        ASSERT_EQ(split.status, joined.status) << joined.message;
        ASSERT_TRUE(same_bytes(image, joined.image));

        const model other = random_model(rng);
        const bytes more = flatten(other);
        model both = m;
        both.insert(both.end(), other.begin(), other.end());
        const change_outcome two = join_change({image, more}, {"a", "b"}, "j", true);
        ASSERT_EQ(open_inside(both), two.status == change_refused) << round;
        if (two.status != change_refused) {
            ASSERT_TRUE(same_bytes(flatten(both), two.image)) << round;
        }
    }
}

TEST(EditImage, FieldValues)
{
    struct number_case {
        const char* text;
        bool valid;
        unsigned long value;
    };
    for (const number_case& c : {number_case{"0", true, 0},
                                 {"99", true, 99},
                                 {"0x1F", true, 31},
                                 {"017", true, 15},
                                 {"65535", true, 65535},
                                 {"", false, 0},
                                 {"0x", false, 0},
                                 {"08", false, 0},
                                 {"12abc", false, 0},
                                 {" 1", false, 0},
                                 {"+1", false, 0},
                                 {"-1", false, 0},
                                 {"1 ", false, 0},
                                 {"0b1", false, 0}}) {
        unsigned long value = 7;
        EXPECT_EQ(c.valid, parse_field_number(c.text, value)) << c.text;
        if (c.valid) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
    unsigned long huge = 0;
    ASSERT_TRUE(parse_field_number("99999999999999999999999", huge));
    EXPECT_GT(huge, 65535UL);

    std::array<std::uint8_t, name_width> field{};
    ASSERT_TRUE(make_name_field("demo.\xE9", field));
    EXPECT_EQ("DEMO.\xE9  ", std::string(field.begin(), field.end()));
    ASSERT_TRUE(make_name_field("", field));
    EXPECT_EQ("        ", std::string(field.begin(), field.end()));
    EXPECT_FALSE(make_name_field("ABCDEFGHI", field));

    EXPECT_TRUE(valid_file_type("!"));
    EXPECT_TRUE(valid_file_type("~"));
    for (const char* bad : {"", " ", "\x7F", "\x80", "AB"})
        EXPECT_FALSE(valid_file_type(bad)) << bad;
}

TEST(EditImage, EntryLists)
{
    struct list_case {
        std::vector<std::string> words;
        entry_list_outcome outcome;
        std::vector<std::size_t> indexes;
        std::string number;
    };
    const std::string big = "18446744073709551616";
    for (const list_case& c :
         std::vector<list_case>{{{"1", "3"}, entry_list_outcome::chosen, {0, 2}, ""},
                                {{"2-4"}, entry_list_outcome::chosen, {1, 2, 3}, ""},
                                {{"all"}, entry_list_outcome::chosen, {0, 1, 2, 3}, ""},
                                {{"3-3", "1"}, entry_list_outcome::chosen, {2, 0}, ""},
                                {{"0"}, entry_list_outcome::no_such_entry, {}, "0"},
                                {{"5"}, entry_list_outcome::no_such_entry, {}, "5"},
                                {{"2-" + big}, entry_list_outcome::no_such_entry, {1}, big},
                                {{"4-2"}, entry_list_outcome::reversed_range, {}, ""},
                                {{"x"}, entry_list_outcome::not_a_number, {}, ""},
                                {{"1-"}, entry_list_outcome::not_a_number, {}, ""},
                                {{"-1"}, entry_list_outcome::not_a_number, {}, ""},
                                {{"1-2-3"}, entry_list_outcome::not_a_number, {}, ""}}) {
        std::vector<std::size_t> indexes;
        const entry_list_result result = choose_entries(c.words, 4, indexes);
        EXPECT_EQ(c.outcome, result.outcome) << c.words[0];
        EXPECT_EQ(c.number, result.number) << c.words[0];
        if (c.outcome == entry_list_outcome::chosen) {
            EXPECT_EQ(c.indexes, indexes) << c.words[0];
        }
    }
}

TEST(EditImage, DerivedNamesStayInTheirFolder)
{
    tape_entry entry;
    entry.kind = entry_kind::file;
    entry.entry = 3;
    struct name_case {
        const char* name;
        std::size_t count;
        const char* expected;
    };
    for (const name_case& c : {name_case{"HELLO   ", 9, "03-HELLO.kst"},
                               {"../X    ", 9, "03-.._X.kst"},
                               {"A/B\x1B[2J ", 9, "03-A_B__2J.kst"},
                               {"        ", 9, "03.kst"},
                               {"A B  \xC3\xA9 ", 120, "003-A_B____.kst"}}) {
        std::copy(c.name, c.name + name_width, entry.name.begin());
        EXPECT_EQ(c.expected, derived_file_name(entry, c.count, ".kst")) << c.name;
    }
    entry.kind = entry_kind::headless;
    EXPECT_EQ("03-headless.bin", derived_file_name(entry, 3, ".bin"));
    EXPECT_EQ("_", safe_name("."));
    EXPECT_EQ("__", safe_name(".."));
    EXPECT_EQ("...", safe_name("..."));
}
