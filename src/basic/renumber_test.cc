#include "basic/renumber.h"

#include "basic/importer.h"
#include "basic/renumber_program.h"
#include "tape/statuses.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace cassmak::core;

namespace {

std::vector<std::uint8_t> image_of(const std::string& source)
{
    std::vector<std::uint8_t> image(0x10000);
    const basic_import import = import_basic(image.data(), static_cast<int>(image.size()), source);
    image.resize(static_cast<std::size_t>(std::max(import.length, 0)));
    return image;
}

// A random program written twice: as a source to renumber (numbers old or
// missing, labels, unnumbered lines) and as what renumbering must make of it.
struct program_pair {
    std::string source;
    std::string expected;
    bool missing = false; // some reference names no line
};

program_pair random_program(std::mt19937& random, const renumber_settings& settings)
{
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const int count = 1 + pick(25);
    std::vector<std::uint32_t> old(count);
    std::vector<bool> numbered(count);
    std::vector<std::string> label(count);
    std::uint32_t number = static_cast<std::uint32_t>(pick(100));
    for (int i = 0; i < count; ++i) {
        number += 1 + static_cast<std::uint32_t>(pick(40));
        old[i] = number;
        numbered[i] = pick(4) != 0;
        if (pick(3) == 0)
            label[i] = (pick(2) ? "Loop_" : "x") + std::to_string(i);
    }
    program_pair pair;
    auto fresh = [&](int i) { return std::to_string(settings.start + settings.step * i); };
    // A reference to a line: its number, its label, or a number no line has.
    auto reference = [&](std::string& source, std::string& expected) {
        const int target = pick(count);
        const int how = pick(10);
        if (how == 0) {
            const std::string missing = std::to_string(old.back() + 1 + pick(50));
            pair.missing = true;
            source += missing;
            expected += missing;
        } else if (!label[target].empty() && how < 5) {
            source += "@" + label[target];
            expected += fresh(target);
        } else if (numbered[target]) {
            source += (pick(5) == 0 ? "0" : "") + std::to_string(old[target]);
            expected += fresh(target);
        } else {
            source += "@nolabel";
            expected += "@nolabel";
        }
    };
    auto spaces = [&]() { return std::string(static_cast<std::size_t>(pick(3)), ' '); };
    for (int i = 0; i < count; ++i) {
        std::string s;
        std::string e;
        const int parts = 1 + pick(4);
        for (int p = 0; p < parts; ++p) {
            if (p > 0) {
                s += ":";
                e += ":";
            }
            auto both = [&](const std::string& text) {
                s += text;
                e += text;
            };
            switch (pick(13)) {
            case 0:
                both("GOTO" + spaces());
                reference(s, e);
                break;
            case 1:
                both("GOSUB ");
                reference(s, e);
                break;
            case 2:
                both("IF X THEN" + spaces());
                reference(s, e);
                break;
            case 3:
                both("ON X GOTO ");
                reference(s, e);
                for (int k = pick(3); k > 0; --k) {
                    both(spaces() + "," + spaces());
                    reference(s, e);
                }
                break;
            case 4:
                both("LIST ");
                reference(s, e);
                both(spaces() + "-" + spaces());
                reference(s, e);
                break;
            case 5:
                both("RESTORE ");
                reference(s, e);
                break;
            case 6:
                both("RUN");
                reference(s, e);
                break;
            case 7: both("PRINT \"GOTO 12 @x1\";X"); break;
            case 8: both("DATA 5,GOTO 7,@x1"); break;
            case 9: both("goto 12"); break;
            case 10:
                s += "PRINT \\@;";
                e += "PRINT @;";
                break;
            case 11: both("IF X THEN PRINT 20"); break;
            default: both("LET A=20+X"); break;
            }
        }
        if (pick(6) == 0) {
            s += ":REM GOTO 10 @x0";
            e += ":REM GOTO 10 @x0";
        }
        const std::string end = pick(3) == 0 ? "\r\n" : "\n";
        std::string head;
        if (!label[i].empty()) {
            head = "@" + label[i] + ":";
            if (pick(2) == 0) {
                pair.source += head + end;
                head.clear();
                if (pick(2) == 0) {
                    pair.source += end;
                    pair.expected += end;
                }
            } else {
                head += spaces();
            }
        }
        if (numbered[i]) {
            const std::string gap = " " + spaces();
            pair.source += head + std::to_string(old[i]) + gap + s;
            pair.expected += fresh(i) + gap + e;
        } else {
            pair.source += head + s;
            pair.expected += fresh(i) + " " + e;
        }
        if (i + 1 < count || pick(2) == 0) {
            pair.source += end;
            pair.expected += end;
        }
        if (pick(5) == 0 && i + 1 < count) {
            pair.source += end;
            pair.expected += end;
        }
    }
    return pair;
}

template <std::size_t N> std::string with_nul(const char (&text)[N])
{
    return std::string(text, N - 1);
}

} // namespace

// Every reference comes to name the new number of the line it named, every
// other byte stays, a second run changes nothing, the labelled source gives
// the tape its numbered form gives, and the stored program renumbered is the
// program of the renumbered source.
TEST(RenumberSource, RandomPrograms)
{
    std::mt19937 random(33);
    for (int round = 0; round < 3000; ++round) {
        const renumber_settings settings{static_cast<std::uint32_t>(random() % 50),
                                         1 + static_cast<std::uint32_t>(random() % 20)};
        const program_pair pair = random_program(random, settings);
        const bool undefined = pair.expected.find("@nolabel") != std::string::npos;
        const source_renumber done = renumber_source(pair.source, settings);
        SCOPED_TRACE(pair.source);
        if (undefined) {
            EXPECT_EQ(done.status, work_failed);
            EXPECT_FALSE(done.errors.empty());
            EXPECT_TRUE(done.text.empty());
            continue;
        }
        ASSERT_TRUE(done.errors.empty()) << done.errors[0].message;
        EXPECT_EQ(done.text, pair.expected);
        EXPECT_EQ(done.status, pair.missing ? work_damaged : work_sound);
        EXPECT_EQ(done.warnings.empty(), !pair.missing);

        const source_renumber again = renumber_source(done.text, settings);
        EXPECT_EQ(again.text, done.text);

        const program_renumber stored = renumber_program(image_of(pair.expected).data(),
                                                         image_of(pair.expected).size(), settings);
        EXPECT_EQ(stored.image, image_of(pair.expected));
        // What cassmak -b is given: the numbered form where there was
        // something to resolve, else the source as it was.
        EXPECT_EQ(number_source(pair.source, settings).text,
                  done.labelled ? pair.expected : pair.source);
    }
}

TEST(RenumberSource, Refusals)
{
    struct row {
        std::string source;
        renumber_settings settings;
        std::string problems; // line:column kind, then the message
        int status;
        std::string text;
    };
    const row rows[] = {
        {"GOTO @a\n@a:\n",
         {},
         "1:6 undefined-label label @a names no line: nothing follows its "
         "definition; put it before a line\n",
         work_failed,
         ""},
        {"@a: PRINT\n\t@b\n@a:GOTO @c\n",
         {},
         "2:9 undefined-label label @b is not defined; define it with @b: at the start of a line\n"
         "3:1 duplicate-label label @a is defined again (first on source line 1); define each "
         "label once\n"
         "3:9 undefined-label label @c is not defined; define it with @c: at the start of a line\n",
         work_failed,
         ""},
        {"1 A\n2 B\n", {65530, 6}, "", work_failed, ""},
        {"1 A\n2 B\n", {65530, 5}, "", work_sound, "65530 A\n65535 B\n"},
        {"5 GOTO 7\n",
         {},
         "1:8 missing-target reference to line 7, which is not in the program; "
         "refer to a line that exists\n",
         work_damaged,
         "10 GOTO 7\n"},
        {with_nul("\xEF\xBB\xBF"
                  "5 A\0GOTO 5\n\n  \n"),
         {},
         "",
         work_sound,
         with_nul("\xEF\xBB\xBF"
                  "10 A\0GOTO 5\n\n20   \n")},
    };
    for (const row& r : rows) {
        const source_renumber done = renumber_source(r.source, r.settings);
        std::string problems;
        for (const auto* list : {&done.errors, &done.warnings})
            for (const check_warning& w : *list)
                problems += std::to_string(w.line) + ":" + std::to_string(w.display_column) + " " +
                            std::string(check_kind_name(w.kind)) + " " + w.message + "\n";
        EXPECT_EQ(problems, r.problems) << r.source;
        EXPECT_EQ(done.status, r.status) << r.source;
        EXPECT_EQ(done.text, r.text) << r.source;
    }
    EXPECT_EQ(renumber_source("1 A\n2 B\n", {65530, 6}).message,
              "the 2 lines numbered from 65530 by 6 would end at 65536, past 65535");
}

// A source with nothing to resolve keeps its own numbers.
TEST(NumberSource, PlainSourceUnchanged)
{
    const std::string plain = "100 GOTO 300\n5 PRINT\n";
    const source_renumber kept = number_source(plain, {});
    EXPECT_EQ(kept.text, plain);
    EXPECT_EQ(kept.status, work_sound);
    EXPECT_EQ(number_source("PRINT\n100 GOTO 100\n", {}).text, "10 PRINT\n20 GOTO 20\n");
}
