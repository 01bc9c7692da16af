#include "basic/checker.h"

#include "basic/importer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace cassmak::core;

namespace {

std::string diagnostics(std::string_view source)
{
    std::string out;
    for (const check_warning& w : check_basic_source(source))
        out += std::to_string(w.line) + ":" + std::to_string(w.column) + ": " + w.message + " [" +
               std::string(check_kind_name(w.kind)) + "]\n";
    return out;
}

// The kinds only, in order, for the cases whose messages another case shows.
std::string kinds(std::string_view source)
{
    std::string out;
    for (const check_warning& w : check_basic_source(source))
        out += std::to_string(w.line) + ":" + std::to_string(w.column) + " " +
               std::string(check_kind_name(w.kind)) + "\n";
    return out;
}

} // namespace

// The message variants; the end-to-end test shows one message of every kind.
TEST(CheckBasicSource, Messages)
{
    struct {
        std::string source;
        const char* expected;
    } cases[] = {
        {"B=1\n \t\n",
         "1:1: line has no number: cassmak -b stores it as line 0; start it with a line number "
         "[no-number]\n"
         "2:1: line holds only white space: cassmak -b stores it as an empty line 0; remove the "
         "white space [no-number]\n"},
        {"70000 A\n03000000000 B\n3000000000 C\n",
         "1:1: line number 70000 is stored as 4464 (its low 16 bits); use 0 to 65535 "
         "[number-range]\n"
         "2:1: line number 3000000000 is past 2147483647: cassmak -b counts it as -1294967296 "
         "and stores 24064 (its low 16 bits); use 0 to 65535 [number-range]\n"
         "2:1: line number -1294967296 is smaller than the line before (70000): cassmak -b keeps "
         "the file's order and does not sort; move or renumber the line [order]\n"
         "3:1: line number 3000000000 is past 2147483647: cassmak -b counts it as -1294967296 "
         "and stores 24064 (its low 16 bits); use 0 to 65535 [number-range]\n"
         "3:1: line number -1294967296 again: cassmak -b stores both lines under it; renumber "
         "one of them [order]\n"},
        {"10 INPut A:rem X\n",
         "1:4: 'INPut' is read as INP and letters: cassmak -b knows keywords only in upper case; "
         "write INPUT [lower-case-keyword]\n"
         "1:12: 'rem' stays letters: cassmak -b knows keywords only in upper case, so the remark "
         "after it is tokenized as statements; write REM [lower-case-keyword]\n"},
        {"10 A\x8E\xC3\n", "1:5: byte 8E outside a string: cassmak -b stores it as it is "
                           "and the machine reads tokens (8E is REM); write ASCII or put the text "
                           "in quotes [non-ascii]\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, diagnostics(c.source)) << c.source;
}

TEST(CheckBasicSource, WhereEachKindFires)
{
    struct {
        std::string source;
        const char* expected;
    } cases[] = {
        // A mark before a number explains that line; before a letter it does not.
        {"\xEF\xBB\xBF"
         "10 A\n",
         "1:1 bom\n"},
        {"\xEF\xBB\xBFX=1\n", "1:1 bom\n1:4 no-number\n"},
        // Names are not keywords; a keyword word in lower case after a token is.
        {"10 total=point+1:IFa>1THENprint\n", "1:27 lower-case-keyword\n"},
        // Strings, remarks and DATA are not looked up; quotes after REM do not matter.
        {"10 DATA print,\xC3\xA9:REM \"print\n20 PRINT \"print\xC3\xA9\"\n", ""},
        {"10 DATA 1:\xC3\xA9 \"A:PRINT\n", "1:11 non-ascii\n1:14 unclosed-string\n"},
        // The cut is where the importer's read ends; its piece gets its own number.
        {"10 " + std::string(123, 'A') + "\n" + "20 " + std::string(130, 'B') + "\n",
         "2:127 split-line\n"},
        // Only the first NUL of a read counts; past the cut, the next read is a line again.
        {"10 " + std::string("\0\0", 2) + std::string(130, 'C') + "\n",
         "1:1 empty-line-number\n1:4 nul\n1:127 split-line\n"},
        // Carriage returns that cause the split explain it.
        {"10 A\r" + std::string(125, 'D') + "\r30 E\n", "1:5 cr-line-ends\n"},
        {"10 A\r" + std::string(127, 'D') + "\n", "1:5 cr-line-ends\n1:127 split-line\n"},
        // A first line numbered 0 is in order.
        {"0 A\n1 B\n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, kinds(c.source)) << c.source;
}

TEST(CheckBasicSource, CleanProgramsGiveNoWarning)
{
    std::ifstream primes(std::filesystem::path(CASSMAK_EXAMPLES) / "primes.bas");
    ASSERT_TRUE(primes);
    const std::string example((std::istreambuf_iterator<char>(primes)), {});
    EXPECT_EQ("", diagnostics(example));

    const char* every_keyword =
        "10 REM EVERY KEYWORD ONCE\r\n"
        "20 DIM A(10),B$(5):LET X=1:CLEAR 100:NULL 0:RAD:DEG\r\n"
        "30 FOR I=1 TO 9 STEP 2:NEXT I:FORI=1TO9:NEXTI\r\n"
        "40 INPUT \"NAME\";N$:READ A,B$:RESTORE:DATA 1,\"A:B\",c\r\n"
        "50 IF A>B AND NOT C OR D<E THEN 60\r\n"
        "60 ON X GOTO 70,80:ON X GOSUB 90:WAIT 1,2:POKE 9000,1:BIT 1\r\n"
        "70 PRINT TAB(5);SPC(2);\"x\";:?A^2*3/4-1:DEF FNC(X)=X\r\n"
        "80 X=SGN(1)+INT(1)+ABS(1)+USR(1)+FRE(0)+INP(1)+POS(0)+SQR(4)+RND(1)+LOG(1)\r\n"
        "90 X=EXP(1)+COS(1)+SIN(1)+TAN(1)+ATN(1)+PEEK(1)+LEN(A$)+VAL(A$)+ASC(A$)\r\n"
        "100 A$=STR$(1)+CHR$(65)+LEFT$(A$,1)+RIGHT$(A$,1)+MID$(A$,1,1)+HEX$(255)+INKEY\r\n"
        "110 SCALE 0,1,0,1:PLOT 1,1:MOVE 0,0:BEEP:AXES:GCLEAR:PAUSE 1:DISP A\r\n"
        "120 BMOVE 1,2:BPLOT 1,1:LOAD:SAVE:DLOAD:DSAVE:LABEL \"L\":FILL 1:AUTO:OUTPUT 1\r\n"
        "130 STATUS:ENTER A:CONTROL 1:CHECK:CONT:OUT 1,2:CODE:ROM:APOKE 1,2:PEN 1:INK(1)\r\n"
        "140 X=APEEK(1)+ADR(A):PRINT AT 1,2;ERR:WINDOW 1:REN:LIST:LLIST:NEW:RUN\r\n"
        "150 RETURN:STOP:END\r\n";
    EXPECT_EQ("", diagnostics(every_keyword));
}

TEST(CheckBasicSource, TooLargeAtTheImportersLimit)
{
    // 536 records of 105 bytes, one of 4 + `last` + 1, and the end link.
    auto program = [](std::size_t last) {
        std::string source;
        for (int number = 1; number <= 536; ++number)
            source += std::to_string(number) + " " + std::string(100, 'X') + "\n";
        return source + "537 " + std::string(last, 'X') + "\n";
    };
    EXPECT_EQ("", diagnostics(program(33)));
    EXPECT_EQ("537:1: program image would be 56321 bytes, more than 56320: cassmak -b refuses it "
              "(status 19) from this line on; shorten the program [too-large]\n",
              diagnostics(program(34)));
}

// The size warning is the importer's own refusal: over random sources both
// agree, and every reported place lies on the byte the warning names.
TEST(CheckBasicSource, AgreesWithTheImporterOnRandomSources)
{
    const std::string alphabet =
        std::string("0123456789  ABPRINTOEMprint\"\":\r\n\n\t\xEF\xC3\x83\x8E") + '\0';
    std::mt19937 random(12345);
    for (int round = 0; round < 150; ++round) {
        std::string source;
        const std::size_t length = random() % 2 == 0 ? random() % 400 : random() % 70000;
        for (std::size_t i = 0; i < length; ++i)
            source += alphabet[random() % alphabet.size()];
        const std::vector<check_warning> warnings = check_basic_source(source);

        std::vector<std::uint8_t> buffer(65536);
        const int status = import_basic(buffer.data(), 65536, source).length;

        bool too_large = false;
        std::vector<std::size_t> line_starts = {0};
        for (std::size_t i = 0; i < source.size(); ++i)
            if (source[i] == '\n')
                line_starts.push_back(i + 1);
        for (const check_warning& w : warnings) {
            too_large = too_large || w.kind == check_kind::too_large;
            ASSERT_LE(w.line, line_starts.size());
            const std::size_t at = line_starts[w.line - 1] + w.column - 1;
            ASSERT_LT(at, std::max<std::size_t>(source.size(), 1));
            if (w.kind == check_kind::nul) {
                EXPECT_EQ('\0', source[at]);
            } else if (w.kind == check_kind::cr_line_ends) {
                EXPECT_EQ('\r', source[at]);
            } else if (w.kind == check_kind::unclosed_string) {
                EXPECT_EQ('"', source[at]);
            } else if (w.kind == check_kind::non_ascii) {
                EXPECT_GE(static_cast<unsigned char>(source[at]), 0x80);
            }
        }
        EXPECT_EQ(status == -19, too_large) << "round " << round;
    }
}

// References and labels: a target the program lacks (by the stored number),
// a number given again further on (the order warning names it when the line
// before has it), and the label errors renum refuses.
TEST(CheckBasicSource, ReferencesAndLabels)
{
    const struct {
        std::string source, expected;
    } cases[] = {
        {"10 GOTO 20:GOSUB 10\n20 ON X GOTO 10,30\n", "2:17 missing-target\n"},
        {"10 PRINT \"GOTO 5\":REM GOTO 5\n20 DATA 5:LIST 5-20\n", "2:16 missing-target\n"},
        {"10 IF A THEN 70000\n4464 END\n", "1:14 missing-target\n"},
        {"10 A\n20 B\n10 C\n", "3:1 order\n3:1 duplicate-number\n"},
        {"10 A\n10 B\n", "2:1 order\n"},
        {"10 A\n5 B\n20 C\n10 D\n", "2:1 order\n4:1 order\n4:1 duplicate-number\n"},
        {"10 GOTO @x\n@y:20 A\n@y:30 B\n",
         "1:9 undefined-label\n2:1 no-number\n3:1 no-number\n3:1 duplicate-label\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, kinds(c.source)) << c.source;
    const std::string again = diagnostics("10 A\n20 B\n10 C\n");
    EXPECT_EQ(again.substr(again.rfind("3:1:")),
              "3:1: line number 10 again (first on source line 1): no GOTO 10 reaches this line; "
              "renumber one of them [duplicate-number]\n");
}
