#include "basic/checker.h"

#include "basic/check_messages.h"
#include "basic/display_width.h"
#include "basic/importer.h"
#include "basic/references.h"
#include "basic/renumber.h"
#include "basic/tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace cassmak::core {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_lower(char c)
{
    return c >= 'a' && c <= 'z';
}

bool is_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string upper_case(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// A run of digits as written, without its leading zeros.
std::string_view significant_digits(std::string_view digits)
{
    std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? digits.substr(digits.size() - 1)
                                           : digits.substr(first);
}

bool exceeds(std::string_view digits, std::string_view limit)
{
    digits = significant_digits(digits);
    return digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
}

struct checker {
    // The warnings of the piece being checked, sorted by column and handed
    // on once the piece is done, so that nothing grows with the source.
    std::vector<check_warning> pending;
    bool quiet = false; // a look ahead: its warnings are dropped
    std::string_view content;
    bool has_bom = false;
    std::optional<std::int32_t> previous_number; // as the importer compares them
    bool previous_from_cut = false;              // that number is a cut piece's
    std::size_t image_length = 0;                // records so far, without the end link
    bool too_large = false;                      // warned about already
    // The source line of the first record of each stored number (0: none
    // yet), and whether the whole program has a record of it.
    std::vector<std::uint32_t> first_line;
    std::vector<bool> in_program;
    // The label errors that numbering the source finds, in source order.
    std::vector<check_warning> label_errors;
    std::size_t next_label_error = 0;
    std::vector<line_reference> found;

    void warn(std::size_t line, std::size_t column, check_kind kind, std::string message)
    {
        if (!quiet)
            pending.push_back({line, column, 0, kind, std::move(message)});
    }
};

// The lookup at `start` of `text` (`upper` is its upper-cased copy), which
// found `token` and moved `position` past it. Where a keyword written in
// lower case was meant, warns and returns the meant token with `position`
// past it; otherwise returns `token`.
int meant_keyword(checker& state, std::string_view text, const std::string& upper,
                  std::size_t start, std::size_t& position, int token, bool after_name_letter,
                  std::size_t line, std::size_t first_column)
{
    // Only a lower-case letter within a keyword's length can change the match.
    const std::string_view ahead = text.substr(start, longest_keyword());
    std::size_t meant_end = position;
    int meant = token;
    if (std::any_of(ahead.begin(), ahead.end(), is_lower)) {
        meant_end = start;
        meant = match_keyword(upper, meant_end);
    }
    // A keyword in another case counts only as a word of its own: crunched
    // names such as `total` must not be read as `TO` + `tal`.
    const bool own_word = meant != 0 && !after_name_letter &&
                          (meant_end >= text.size() || !is_letter(text[meant_end]) ||
                           !is_letter(upper[meant_end - 1]));
    if (!own_word || meant_end <= position)
        return token;
    state.warn(line, first_column + start, check_kind::lower_case_keyword,
               lower_case_keyword_message(text.substr(start, meant_end - start), token, meant));
    position = meant_end;
    return meant;
}

// Walks a statement text as tokenize_line does, flag for flag, and reports
// what the lookup turns into something else than was meant. A keyword found
// in lower case steers the flags from there on as the keyword it means, so
// that what it brings about later in the line (a remark that is tokenized)
// is not reported once more. `skip` bytes at the start are already explained
// (a byte order mark).
//
// Returns the column of the quote that opens a string left unclosed at the
// end of the text, if any, for the caller to warn about.
std::optional<std::size_t> check_statement(checker& state, std::string_view text, std::size_t line,
                                           std::size_t first_column, std::size_t skip)
{
    const std::string upper = upper_case(text);
    lookup_flags flags;
    bool after_name_letter = false; // the byte before is a letter that was copied
    std::size_t quote_at = 0;
    std::string run;        // consecutive looked-up bytes of 0x80 and above
    std::size_t run_at = 0; // where the run starts

    auto end_run = [&]() {
        if (run.empty())
            return;
        state.warn(line, first_column + run_at, check_kind::non_ascii, non_ascii_message(run));
        run.clear();
    };

    std::size_t position = 0;
    while (position < text.size()) {
        int token = 0;
        const bool looking = flags.looking();
        const std::size_t start = position;
        if (looking) {
            token = match_keyword(text, position);
            token = meant_keyword(state, text, upper, start, position, token, after_name_letter,
                                  line, first_column);
        }
        unsigned char byte = 0;
        if (token != 0) {
            end_run();
            byte = static_cast<unsigned char>(token);
            after_name_letter = false;
        } else {
            byte = static_cast<unsigned char>(text[position++]);
            if (looking && byte >= 0x80 && start >= skip) {
                if (run.empty())
                    run_at = start;
                run.push_back(static_cast<char>(byte));
            } else {
                end_run();
            }
            after_name_letter = is_letter(static_cast<char>(byte));
        }

        if (byte == '"' && !flags.in_string)
            quote_at = start;
        follow_byte(flags, byte);
        if (!looking || !flags.looking())
            end_run();
    }
    end_run();
    if (flags.in_string && !flags.after_rem)
        return first_column + quote_at;
    return std::nullopt;
}

// The first piece of a physical line: what its number becomes.
void check_number(checker& state, const source_line& split, std::size_t line, bool first_line)
{
    std::string_view text = split.line;
    std::size_t from = 0;
    if (first_line && state.has_bom)
        from = byte_order_mark.size();
    const std::string_view rest = text.substr(from);
    // A mark alone or before the number is explained by the bom warning.
    if (from != 0 && (rest.empty() || is_digit(rest[0])))
        return;
    if (!is_digit(text[0])) {
        std::size_t blank = 0;
        while (blank < rest.size() && is_line_space(rest[blank]))
            ++blank;
        std::size_t digits = blank;
        while (digits < rest.size() && is_digit(rest[digits]))
            ++digits;
        state.warn(line, from + 1, check_kind::no_number, no_number_message(rest, blank, digits));
        return;
    }

    std::size_t digit_count = 0;
    while (digit_count < text.size() && is_digit(text[digit_count]))
        ++digit_count;
    const std::string written(significant_digits(text.substr(0, digit_count)));
    const std::uint32_t stored = split.number & 0xFFFFu;
    const std::int32_t number = signed_line_number(split.number);
    if (exceeds(written, "65535"))
        state.warn(line, 1, check_kind::number_range,
                   number_range_message(written, number, stored));

    if (split.statement().empty())
        state.warn(line, 1, check_kind::empty_line_number,
                   empty_line_number_message(written, stored));

    const bool again = state.previous_number && number == *state.previous_number;
    if (state.previous_number && number <= *state.previous_number)
        state.warn(line, 1, check_kind::order,
                   order_message(number, *state.previous_number, state.previous_from_cut));
    // The order warning already names a number given twice in a row.
    if (!again && state.first_line[stored] != 0)
        state.warn(line, 1, check_kind::duplicate_number,
                   duplicate_number_message(stored, state.first_line[stored]));
}

// Whether the physical line `text` would fit in one read once its carriage
// returns became line ends.
bool fits_once_split_at_returns(std::string_view text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\r', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end - start > static_cast<std::size_t>(basic_piece_length))
            return false;
        start = end + 1;
    }
    return true;
}

// A NUL in the piece `piece` of a line, which runs from column `from` to `end`.
void warn_nul(checker& state, std::string_view piece, std::size_t line, std::size_t from,
              std::size_t end, bool whole_line)
{
    const std::size_t nul = piece.find('\0');
    if (nul == std::string_view::npos)
        return;
    state.warn(line, from + nul + 1, check_kind::nul, nul_message(end, whole_line));
}

// The program image that the records from byte `at` of the source on add,
// as the importer reads them.
std::size_t image_from(std::string_view content, std::size_t at)
{
    std::size_t length = 0;
    while (at < content.size()) {
        const std::size_t end = next_piece_end(content, at);
        const source_line split = split_source_line(content.substr(at, end - at));
        if (!split.line.empty())
            length += record_size(tokenize_line(split.statement()).size());
        at = end;
    }
    return length;
}

// One piece that becomes a record: its statement, and the image it adds to.
// `line_start` is where the line lies in the source. A string left unclosed
// is warned about unless the line is cut and it is not `meant_unclosed`, the
// one of the line as written.
void check_record(checker& state, const source_line& split, std::size_t line,
                  std::size_t line_start, std::size_t from, bool cut,
                  std::optional<std::size_t> meant_unclosed)
{
    // The mark's bytes, at the very start of the text, have their own warning.
    const std::size_t skip = from == 0 && line == 1 && state.has_bom ? byte_order_mark.size() : 0;
    const std::optional<std::size_t> unclosed =
        check_statement(state, split.statement(), line, from + split.statement_at + 1, skip);
    if (unclosed && (!cut || unclosed == meant_unclosed))
        state.warn(line, *unclosed, check_kind::unclosed_string, unclosed_string_message());

    find_source_references(split.statement(), true, state.found);
    for (const line_reference& reference : state.found) {
        if (reference.kind != reference_kind::number)
            continue;
        const std::string_view digits = split.statement().substr(reference.at, reference.length);
        const std::uint32_t target = reference_value(digits);
        if (target > line_number_max || !state.in_program[target])
            state.warn(line, from + split.statement_at + reference.at + 1,
                       check_kind::missing_target, missing_target_message(digits));
    }
    if (state.first_line[split.number & 0xFFFFu] == 0)
        state.first_line[split.number & 0xFFFFu] = static_cast<std::uint32_t>(line);

    const std::size_t record_length = record_size(tokenize_line(split.statement()).size());
    if (!state.too_large && state.image_length + record_length + end_link_size >
                                static_cast<std::size_t>(basic_image_max)) {
        state.too_large = true;
        // The size the whole image would have: this record and all after it.
        const std::size_t whole = state.image_length + image_from(state.content, line_start + from);
        state.warn(line, from + 1, check_kind::too_large, too_large_message(whole));
    }
    state.image_length += record_length;
}

// What the importer makes of one physical line as a whole, known before its
// pieces are checked: the warnings about the whole line sit at a column of
// one of its pieces, in column order with the pieces' own.
struct line_shape {
    std::size_t records = 0;
    std::optional<std::size_t> cut_at; // the first later piece that becomes a line
    std::uint32_t cut_number = 0;
    bool cut_at_digit = false; // the cut piece's number comes from its own text
    std::size_t returns = 0;
    std::size_t first_return = 0;
};

line_shape shape_of(std::string_view text)
{
    line_shape shape;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = next_piece_end(text, from);
        const source_line split = split_source_line(text.substr(from, end - from));
        if (!split.line.empty()) {
            if (from != 0 && !shape.cut_at) {
                shape.cut_at = from;
                shape.cut_number = split.number & 0xFFFFu;
                shape.cut_at_digit = is_digit(split.line[0]);
            }
            ++shape.records;
            const std::size_t inner_returns =
                static_cast<std::size_t>(std::count(split.line.begin(), split.line.end(), '\r'));
            if (inner_returns > 0 && shape.returns == 0)
                shape.first_return = from + split.line.find('\r');
            shape.returns += inner_returns;
        }
        from = end;
    }
    return shape;
}

// The unclosed string of the line as it was written, before the importer's
// cut: a quote that the cut leaves open, or one that closes a string opened
// before the cut, is the cut's doing, which split-line already names.
std::optional<std::size_t> unclosed_before_cut(const checker& state, std::string_view text,
                                               std::size_t line)
{
    const source_line first = split_source_line(text.substr(0, next_piece_end(text, 0)));
    std::string_view whole = text.substr(0, text.find('\0'));
    while (!whole.empty() && (whole.back() == '\n' || whole.back() == '\r'))
        whole.remove_suffix(1);
    if (first.line.empty() || first.statement_at > whole.size())
        return std::nullopt;
    checker look;
    look.quiet = true;
    const std::size_t skip = line == 1 && state.has_bom ? byte_order_mark.size() : 0;
    return check_statement(look, whole.substr(first.statement_at), line, first.statement_at + 1,
                           skip);
}

// Hands the pending warnings on in column order, with display columns.
void hand_on(checker& state, column_counter& columns, const check_sink& sink)
{
    std::stable_sort(
        state.pending.begin(), state.pending.end(),
        [](const check_warning& a, const check_warning& b) { return a.column < b.column; });
    for (check_warning& warning : state.pending) {
        warning.display_column = columns.display(warning.column);
        sink(warning);
    }
    state.pending.clear();
}

// One physical line `text` (its newline included), checked piece by piece;
// each piece's warnings go out as soon as it is done.
void check_physical_line(checker& state, std::string_view text, std::size_t line,
                         std::size_t line_start, const check_sink& sink)
{
    const line_shape shape = shape_of(text);
    std::string_view body = text;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.remove_suffix(1);

    // The warnings about the whole line, at their columns.
    std::vector<check_warning> whole_line;
    if (shape.returns > 0)
        whole_line.push_back({line, shape.first_return + 1, 0, check_kind::cr_line_ends,
                              cr_line_ends_message(shape.returns)});
    if (shape.cut_at && !(shape.returns > 0 && fits_once_split_at_returns(body)))
        whole_line.push_back({line, *shape.cut_at + 1, 0, check_kind::split_line,
                              split_line_message(body.size(), shape.records, *shape.cut_at + 1,
                                                 shape.cut_number, shape.cut_at_digit)});
    const std::optional<std::size_t> meant_unclosed =
        shape.cut_at ? unclosed_before_cut(state, text, line) : std::nullopt;

    for (; state.next_label_error < state.label_errors.size() &&
           state.label_errors[state.next_label_error].line == line;
         ++state.next_label_error)
        whole_line.push_back(state.label_errors[state.next_label_error]);

    column_counter columns{text};
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = next_piece_end(text, from);
        const std::string_view piece = text.substr(from, end - from);
        warn_nul(state, piece, line, from, end, end == text.size());
        const source_line split = split_source_line(piece);
        if (!split.line.empty()) {
            if (from == 0)
                check_number(state, split, line, line == 1);
            state.previous_number = signed_line_number(split.number);
            state.previous_from_cut = from != 0;
            check_record(state, split, line, line_start, from, shape.cut_at.has_value(),
                         meant_unclosed);
        }
        for (check_warning& warning : whole_line)
            if (warning.column > from && warning.column <= end && !state.quiet)
                state.pending.push_back(std::move(warning));
        hand_on(state, columns, sink);
        from = end;
    }
}

} // namespace

void check_basic_source(std::string_view content, const check_sink& sink)
{
    checker state;
    state.content = content;
    state.first_line.assign(std::size_t{line_number_max} + 1, 0);
    state.in_program.assign(std::size_t{line_number_max} + 1, false);
    for (std::size_t from = 0; from < content.size();) {
        const std::size_t end = next_piece_end(content, from);
        const source_line split = split_source_line(content.substr(from, end - from));
        if (!split.line.empty())
            state.in_program[split.number & 0xFFFFu] = true;
        from = end;
    }
    // Labels are resolved as casstool renum resolves them; a source without
    // a mark has none.
    if (content.find('@') != std::string_view::npos)
        state.label_errors = renumber_source(content, {}).errors;
    if (content.size() < static_cast<std::size_t>(basic_source_min) ||
        content.size() > static_cast<std::size_t>(basic_source_max))
        state.warn(1, 1, check_kind::source_size, source_size_message(content.size()));

    state.has_bom = content.substr(0, byte_order_mark.size()) == byte_order_mark;
    if (state.has_bom) {
        const std::string_view rest = content.substr(byte_order_mark.size());
        std::size_t digits = 0;
        while (digits < rest.size() && is_digit(rest[digits]))
            ++digits;
        state.warn(1, 1, check_kind::bom, bom_message(rest.substr(0, digits)));
    }
    column_counter start{content.substr(0, 0)};
    hand_on(state, start, sink);

    std::size_t line = 1;
    for (std::size_t start_at = 0; start_at < content.size(); ++line) {
        std::size_t end = content.find('\n', start_at);
        end = end == std::string_view::npos ? content.size() : end + 1;
        check_physical_line(state, content.substr(start_at, end - start_at), line, start_at, sink);
        start_at = end;
    }
}

std::vector<check_warning> check_basic_source(std::string_view content)
{
    std::vector<check_warning> warnings;
    check_basic_source(content, [&](const check_warning& w) { warnings.push_back(w); });
    return warnings;
}

void append_check_line(std::string& out, std::string_view source, std::size_t line,
                       std::size_t display_column, std::string_view message, std::string_view kind)
{
    append_source_line(out, source, line, display_column, "warning", message, kind);
}

void append_source_line(std::string& out, std::string_view source, std::size_t line,
                        std::size_t display_column, std::string_view severity,
                        std::string_view message, std::string_view kind)
{
    out.append(source)
        .append(":")
        .append(std::to_string(line))
        .append(":")
        .append(std::to_string(display_column))
        .append(": ")
        .append(severity)
        .append(": ")
        .append(message)
        .append(" [")
        .append(kind)
        .append("]\n");
}

} // namespace cassmak::core
