#include "programs/casstool/commands.h"

#include "programs/casstool/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>


namespace {

TEST(CommandTable, EveryRowIsFoundListedAndHasItsUsage)
{
    const std::string help = general_usage();
    for (const tool_command* command : tool_commands()) {
        const std::string name = command->name;
        EXPECT_EQ(command, find_tool_command(name));
        EXPECT_EQ(0U, std::string(command->synopsis).rfind(name + " ", 0)) << name;
        EXPECT_EQ(0U, command->usage().rfind("Usage: casstool " + name + " ", 0)) << name;
        const std::string row = "\n  " + std::string(command->synopsis);
        const std::size_t at = help.find(row);
        ASSERT_NE(std::string::npos, at) << name;
        EXPECT_TRUE(help[at + row.size()] == ' ' || help[at + row.size()] == '\n') << name;
        EXPECT_NE(std::string::npos, help.find(std::string(command->summary) + "\n")) << name;
    }
    EXPECT_EQ(nullptr, find_tool_command("lis"));
    EXPECT_EQ(nullptr, find_tool_command(""));
}

TEST(CommandTable, HelpSummariesStandInOneColumn)
{
    const std::string help = general_usage();
    std::size_t column = 0;
    for (const tool_command* command : tool_commands()) {
        const std::size_t row = help.find("\n  " + std::string(command->synopsis));
        ASSERT_NE(std::string::npos, row);
        const std::size_t summary = help.find(command->summary, row);
        ASSERT_NE(std::string::npos, summary);
        const std::size_t at = summary - help.rfind('\n', summary);
        if (column == 0)
            column = at;
        EXPECT_EQ(column, at) << command->name;
    }
}

// Every help text fits a terminal of 80 columns, the table's rows included.
TEST(CommandTable, HelpTextsFit80Columns)
{
    std::vector<std::pair<std::string, std::string>> texts = {{"casstool", general_usage()}};
    for (const tool_command* command : tool_commands())
        texts.emplace_back(command->name, command->usage());
    for (const auto& [name, text] : texts) {
        EXPECT_EQ('\n', text.back()) << name;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            EXPECT_LE(end - at, 79U) << name << ": " << text.substr(at, end - at);
            at = end + 1;
        }
    }
}

// The positional arguments a row declares are those its synopsis shows: a
// word after the name that is no option and no option's value is needed, one
// in brackets may be left out, and "..." lets the last one repeat.
TEST(CommandTable, PositionalArgumentsAreTheOnesTheSynopsisShows)
{
    for (const tool_command* command : tool_commands()) {
        std::string synopsis = std::string(command->synopsis).substr(std::strlen(command->name));
        // Options in brackets, with or without a value, then "-o OUTPUT".
        synopsis = std::regex_replace(synopsis, std::regex(R"( \[-[^\]]*\](\.\.\.)?)"), "");
        synopsis = std::regex_replace(synopsis, std::regex(R"( -[-A-Za-z]+ [A-Z]+(\.\.\.)?)"), "");
        std::istringstream words(synopsis);
        command_arguments shown;
        for (std::string word; words >> word;) {
            if (word.front() == '[')
                ++shown.optional;
            else
                shown.needed.push_back(command->name);
            shown.repeats = word.size() > 3 && word.compare(word.size() - 3, 3, "...") == 0;
        }
        EXPECT_EQ(shown.needed.size(), command->positional.needed.size()) << command->synopsis;
        EXPECT_EQ(shown.optional, command->positional.optional) << command->synopsis;
        EXPECT_EQ(shown.repeats, command->positional.repeats) << command->synopsis;
    }
}

struct parse_case {
    const char* command;
    std::vector<std::string> arguments;
    int status;
    const char* error; // the one line on standard error, without "casstool: "
};

TEST(CommandParse, EachCommandTakesItsOwnArguments)
{
    const parse_case cases[] = {
        {"list", {"a.kst"}, tool_ok, ""},
        {"list", {"--json", "a.kst", "b.kst"}, tool_ok, ""},
        {"list", {"--", "--json"}, tool_ok, ""},
        {"list", {"-"}, tool_ok, ""},
        {"list", {}, tool_failed, "list: no image given (see 'casstool list --help')"},
        {"list", {"--json"}, tool_failed, "list: no image given (see 'casstool list --help')"},
        {"list",
         {"-o", "x", "a"},
         tool_failed,
         "list: unknown option '-o' (see 'casstool list --help')"},
        {"extract", {"a.kst", "2", "-o", "x", "--force"}, tool_ok, ""},
        {"extract",
         {"a.kst"},
         tool_failed,
         "extract: no entry given (see 'casstool extract --help')"},
        {"extract",
         {"a.kst", "two"},
         tool_failed,
         "extract: entry 'two' is not a number (see 'casstool extract --help')"},
        {"extract",
         {"a.kst", "1", "3"},
         tool_failed,
         "extract: unexpected argument '3' (see 'casstool extract --help')"},
        {"extract",
         {"a.kst", "1", "-o"},
         tool_failed,
         "extract: option -o needs a file name (see 'casstool extract --help')"},
        {"extract",
         {"a.kst", "1", "-o", "x", "-o", "y"},
         tool_failed,
         "extract: option -o given twice (see 'casstool extract --help')"},
        {"basic", {"a.kst"}, tool_ok, ""},
        {"basic", {"a.kst", "3", "-o", "p.bas"}, tool_ok, ""},
        {"basic",
         {"a.kst", "1", "2"},
         tool_failed,
         "basic: unexpected argument '2' (see 'casstool basic --help')"},
        {"basic",
         {"a.kst", "--force"},
         tool_failed,
         "basic: unknown option '--force' (see 'casstool basic --help')"},
        {"check", {"-W", "no-order", "-Wno-bom", "a.bas"}, tool_ok, ""},
        {"check",
         {"-W"},
         tool_failed,
         "check: option -W needs no-KIND (see 'casstool check --help')"},
        {"check",
         {"-Worder", "a.bas"},
         tool_failed,
         "check: option -W takes no-KIND, not 'order' (see 'casstool check --help')"},
        {"check",
         {"-Wno-nothing", "a.bas"},
         tool_failed,
         "check: unknown warning kind 'nothing' (see 'casstool check --help')"},
        {"check", {}, tool_failed, "check: no source given (see 'casstool check --help')"},
        {"set",
         {"a.kst", "1", "--name", "x", "--number", "0x63", "--type", "~", "--address", "0177777",
          "--force", "-q", "--dry-run"},
         tool_ok,
         ""},
        {"set",
         {"a.kst", "1"},
         tool_failed,
         "set: nothing to set; give --name, --number, --type or --address (see 'casstool set "
         "--help')"},
        {"set",
         {"a.kst", "1", "--number", "100"},
         tool_failed,
         "set: a file number '100' is not 0 to 99 (see 'casstool set --help')"},
        {"set",
         {"a.kst", "1", "--number", "12abc"},
         tool_failed,
         "set: a file number '12abc' is not 0 to 99 (see 'casstool set --help')"},
        {"set",
         {"a.kst", "1", "--address", "65536"},
         tool_failed,
         "set: an address '65536' is not 0 to 65535 (see 'casstool set --help')"},
        {"set",
         {"a.kst", "1", "--address"},
         tool_failed,
         "set: option --address needs an address (see 'casstool set --help')"},
        {"set",
         {"a.kst", "1", "--name", "ABCDEFGHI"},
         tool_failed,
         "set: name 'ABCDEFGHI' is longer than 8 characters (see 'casstool set --help')"},
        {"set",
         {"a.kst", "1", "--type", " "},
         tool_failed,
         "set: file type ' ' is not one character from 0x21 to 0x7E (see 'casstool set "
         "--help')"},
        {"set",
         {"a.kst", "x", "--type", "B"},
         tool_failed,
         "set: entry 'x' is not a number (see 'casstool set --help')"},
        {"move", {"a.kst", "1", "2", "-q"}, tool_ok, ""},
        {"move",
         {"a.kst", "1"},
         tool_failed,
         "move: no position given (see 'casstool move --help')"},
        {"move",
         {"a.kst", "1", "2-3"},
         tool_failed,
         "move: position '2-3' is not a number (see 'casstool move --help')"},
        {"move",
         {"a.kst", "1", "2", "3"},
         tool_failed,
         "move: unexpected argument '3' (see 'casstool move --help')"},
        {"copy", {"-", "all", "1-2", "--to", "b.kst", "--at", "1", "--force"}, tool_ok, ""},
        {"copy",
         {"a.kst", "1"},
         tool_failed,
         "copy: no image to copy into; give --to IMAGE (see 'casstool copy --help')"},
        {"copy",
         {"a.kst", "--to", "b.kst"},
         tool_failed,
         "copy: no entry given (see 'casstool copy --help')"},
        {"copy",
         {"a.kst", "1", "--to", "b", "--to", "c"},
         tool_failed,
         "copy: option --to given twice (see 'casstool copy --help')"},
        {"copy",
         {"a.kst", "1", "--to", "b", "--at", "end"},
         tool_failed,
         "copy: position 'end' is not a number (see 'casstool copy --help')"},
        {"join", {"-o", "-", "a.kst", "-", "--", "-q"}, tool_ok, ""},
        {"join",
         {"a.kst"},
         tool_failed,
         "join: no output given; give -o OUTPUT (see 'casstool join --help')"},
        {"join", {"-o", "x"}, tool_failed, "join: no image given (see 'casstool join --help')"},
        {"split", {"a.kst", "-d", "out", "--force"}, tool_ok, ""},
        {"split",
         {"a.kst", "-d"},
         tool_failed,
         "split: option -d needs a folder (see 'casstool split --help')"},
        {"split",
         {"a.kst", "b.kst"},
         tool_failed,
         "split: unexpected argument 'b.kst' (see 'casstool split --help')"},
    };
    for (const parse_case& c : cases) {
        const tool_command* command = find_tool_command(c.command);
        ASSERT_NE(nullptr, command) << c.command;
        testing::internal::CaptureStderr();
        const int status = command->parse(c.arguments);
        const std::string error = testing::internal::GetCapturedStderr();
        const std::string line = c.arguments.empty() ? "" : c.arguments[0];
        EXPECT_EQ(c.status, status) << c.command << " " << line;
        EXPECT_EQ(*c.error ? "casstool: " + std::string(c.error) + "\n" : "", error)
            << c.command << " " << line;
    }
}

} // namespace
