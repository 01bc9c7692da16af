// The kinds of warning of the source check: the one table of their names and
// fixes, in the order of the enumeration.
#include "basic/checker.h"

#include <iterator>

namespace cassmak::core {

namespace {

struct kind_row {
    std::string_view name, fix;
};

constexpr kind_row kind_rows[] = {
    {"bom", "save without the mark"},
    {"no-number", "start each line with its number"},
    {"split-line", "keep lines within 126 characters"},
    {"number-range", "use 0 to 65535"},
    {"order", "move or renumber the line"},
    {"lower-case-keyword", "write keywords in upper case"},
    {"non-ascii", "plain ASCII, or put the text in quotes"},
    {"nul", "remove it"},
    {"cr-line-ends", "LF or CR LF line ends"},
    {"unclosed-string", "close the string"},
    {"too-large", "shorten the program"},
    {"empty-line-number", "add a statement or remove the line"},
    {"source-size", "keep the source within those sizes"},
    {"missing-target", "refer to a line that exists"},
    {"duplicate-number", "renumber one of the lines (casstool renum)"},
    {"undefined-label", "define the label with @name: at the start of a line"},
    {"duplicate-label", "define each label once"},
};
static_assert(std::size(kind_rows) == static_cast<std::size_t>(check_kind::duplicate_label) + 1,
              "every kind has its row");

} // namespace

std::string_view check_kind_name(check_kind kind)
{
    return kind_rows[static_cast<std::size_t>(kind)].name;
}

std::string_view check_kind_fix(check_kind kind)
{
    return kind_rows[static_cast<std::size_t>(kind)].fix;
}

const std::vector<std::string_view>& check_kinds()
{
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> all;
        for (const kind_row& row : kind_rows)
            all.push_back(row.name);
        return all;
    }();
    return names;
}

} // namespace cassmak::core
