#include "basic/renumber.h"

#include "basic/check_messages.h"
#include "basic/display_width.h"
#include "basic/importer.h"
#include "basic/labels.h"
#include "basic/references.h"
#include "tape/statuses.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace cassmak::core {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// One physical line taken apart. `body` is what the importer reads of it (up
// to a NUL, without its line end); `head` is where the line's own text
// starts (after a byte order mark and a label definition with its blanks);
// `digits` the number written there, then `statement` after the white space
// the importer skips.
struct line_parts {
    std::size_t start = 0; // in the source
    std::size_t end = 0;   // past the newline
    std::string_view body;
    std::size_t head = 0;
    std::size_t definition = 0; // length of `@name:`, 0 when none
    std::size_t definition_at = 0;
    std::size_t digits = 0;
    std::size_t statement = 0;
    enum { blank, label_only, numbered } shape = blank;
};

line_parts split_line(std::string_view source, std::size_t start, bool first)
{
    line_parts parts;
    parts.start = start;
    std::size_t end = source.find('\n', start);
    parts.end = end == std::string_view::npos ? source.size() : end + 1;
    std::string_view body = source.substr(start, parts.end - start);
    body = body.substr(0, body.find('\0'));
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.remove_suffix(1);
    parts.body = body;
    std::size_t at = 0;
    if (first && body.substr(0, byte_order_mark.size()) == byte_order_mark)
        at = byte_order_mark.size();
    parts.definition_at = at;
    parts.definition = label_definition_length(body.substr(at));
    if (parts.definition != 0) {
        at += parts.definition;
        while (at < body.size() && is_blank(body[at]))
            ++at;
    }
    parts.head = at;
    // As the importer sees it, a line of only white space is a line (number
    // 0, no statement); only a label definition may have nothing after it.
    if (body.empty() || (parts.definition != 0 && at == body.size())) {
        parts.shape = body.empty() ? line_parts::blank : line_parts::label_only;
        return parts;
    }
    parts.shape = line_parts::numbered;
    std::size_t digits = at;
    while (digits < body.size() && is_digit(body[digits]))
        ++digits;
    parts.digits = digits - at;
    std::size_t statement = digits;
    while (statement < body.size() && is_line_space(body[statement]))
        ++statement;
    parts.statement = statement;
    return parts;
}

struct label_place {
    std::optional<std::uint32_t> number; // none: nothing follows the definition
    std::size_t line = 0;
};

// A problem at byte `at` of the physical line `parts`, numbered `line`.
check_warning problem(const line_parts& parts, std::string_view source, std::size_t line,
                      std::size_t at, check_kind kind, std::string message)
{
    column_counter columns{source.substr(parts.start, parts.end - parts.start)};
    return {line, at + 1, columns.display(at + 1), kind, std::move(message)};
}

void append_number(std::string& out, std::uint32_t number)
{
    char digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        out.push_back(digits[--count]);
}

source_renumber renumber(std::string_view source, const renumber_settings& settings,
                         bool keep_plain)
{
    source_renumber result;
    // First the new number of every line, the old numbers and the labels.
    std::vector<line_parts> lines;
    std::unordered_map<std::uint32_t, std::uint32_t> moved; // first line of each old number
    std::unordered_map<std::string_view, label_place> labels;
    std::vector<std::string_view> waiting; // labels for the next numbered line
    std::uint64_t next = settings.start;
    std::size_t count = 0;
    for (std::size_t start = 0; start < source.size();) {
        const line_parts parts = split_line(source, start, start == 0);
        const std::size_t line = lines.size() + 1;
        if (parts.definition != 0) {
            result.labelled = true;
            const std::string_view name =
                parts.body.substr(parts.definition_at, parts.definition - 1);
            const auto known = labels.find(name);
            if (known != labels.end())
                result.errors.push_back(problem(parts, source, line, parts.definition_at,
                                                check_kind::duplicate_label,
                                                duplicate_label_message(name, known->second.line)));
            else {
                labels.emplace(name, label_place{std::nullopt, line});
                waiting.push_back(name);
            }
        }
        if (parts.shape == line_parts::numbered) {
            const std::uint32_t number =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
            if (parts.digits == 0)
                result.labelled = true;
            else {
                const std::uint32_t old =
                    reference_value(parts.body.substr(parts.head, parts.digits));
                if (old != reference_value_past)
                    moved.emplace(old, number);
            }
            renumbered_line shown{
                line, std::string(parts.body.substr(parts.head, parts.digits)), {}, number};
            for (const std::string_view name : waiting) {
                labels[name].number = number;
                shown.labels.emplace_back(name);
            }
            waiting.clear();
            result.lines.push_back(std::move(shown));
            ++count;
            next += settings.step;
        }
        lines.push_back(parts);
        start = parts.end;
    }

    // Then each line written with the numbers in place.
    std::string& out = result.text;
    out.reserve(source.size() + source.size() / 8);
    std::vector<line_reference> found;
    std::size_t numbered = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const line_parts& parts = lines[index];
        const std::size_t line = index + 1;
        const std::string_view whole = source.substr(parts.start, parts.end - parts.start);
        if (parts.shape == line_parts::blank) {
            out.append(whole);
            continue;
        }
        if (parts.shape == line_parts::label_only)
            continue;
        out.append(parts.body.substr(0, parts.definition_at));
        append_number(out, result.lines[numbered++].number);
        if (parts.digits == 0)
            out.push_back(' ');
        out.append(parts.body.substr(parts.head + parts.digits,
                                     parts.statement - parts.head - parts.digits));
        const std::string_view statement = parts.body.substr(parts.statement);
        find_source_references(statement, true, found);
        std::size_t copied = 0;
        for (const line_reference& reference : found) {
            out.append(statement.substr(copied, reference.at - copied));
            copied = reference.at + reference.length;
            const std::string_view written = statement.substr(reference.at, reference.length);
            const std::size_t at = parts.statement + reference.at;
            if (reference.kind == reference_kind::escape) {
                result.labelled = true;
                out.push_back(label_mark);
            } else if (reference.kind == reference_kind::label) {
                result.labelled = true;
                const auto known = labels.find(written);
                if (known == labels.end() || !known->second.number) {
                    result.errors.push_back(
                        problem(parts, source, line, at, check_kind::undefined_label,
                                undefined_label_message(written, known != labels.end())));
                    out.append(written);
                } else {
                    append_number(out, *known->second.number);
                }
            } else {
                const auto target = moved.find(reference_value(written));
                if (target == moved.end()) {
                    result.warnings.push_back(problem(parts, source, line, at,
                                                      check_kind::missing_target,
                                                      missing_target_message(written)));
                    out.append(written);
                } else {
                    append_number(out, target->second);
                }
            }
        }
        out.append(statement.substr(copied));
        // What the importer does not read: after a NUL, and the line end.
        out.append(whole.substr(parts.body.size()));
    }

    // Definitions were met in the first pass, uses in the second.
    std::stable_sort(result.errors.begin(), result.errors.end(),
                     [](const check_warning& a, const check_warning& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    if (keep_plain && !result.labelled) {
        source_renumber plain;
        plain.text = std::string(source);
        return plain;
    }
    const std::size_t errors = result.errors.size();
    result.message = errors != 0
                         ? std::to_string(errors) + (errors == 1 ? " label error" : " label errors")
                         : numbering_refusal(count, settings);
    if (!result.message.empty()) {
        result.status = work_failed;
        result.text.clear();
    } else if (!result.warnings.empty()) {
        result.status = work_damaged;
    }
    return result;
}

} // namespace

source_renumber renumber_source(std::string_view source, const renumber_settings& settings)
{
    return renumber(source, settings, false);
}

source_renumber number_source(std::string_view source, const renumber_settings& settings)
{
    return renumber(source, settings, true);
}

std::string numbering_refusal(std::size_t count, const renumber_settings& settings)
{
    if (settings.start > line_number_max)
        return "the start must be 0 to " + std::to_string(line_number_max) + ", not " +
               std::to_string(settings.start);
    if (settings.step < 1 || settings.step > line_number_max)
        return "the step must be 1 to " + std::to_string(line_number_max) + ", not " +
               std::to_string(settings.step);
    if (count == 0 ||
        settings.start + std::uint64_t{settings.step} * (count - 1) <= line_number_max)
        return {};
    const std::uint64_t last = settings.start + std::uint64_t{settings.step} * (count - 1);
    return "the " + std::to_string(count) + (count == 1 ? " line" : " lines") + " numbered from " +
           std::to_string(settings.start) + " by " + std::to_string(settings.step) +
           " would end at " + std::to_string(last) + ", past " + std::to_string(line_number_max);
}

} // namespace cassmak::core
