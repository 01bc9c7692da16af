#include "basic/checker.h"

#include "basic/importer.h"
#include "basic/tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

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

std::string hex_byte(unsigned char byte)
{
    constexpr std::string_view digits = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

// How the machine reads a byte of 0x80 or above outside strings.
std::string token_reading(unsigned char byte)
{
    std::string_view keyword = keyword_of(byte);
    return hex_byte(byte) + (keyword.empty() ? " is no keyword" : " is " + std::string(keyword));
}

std::string plural(std::size_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
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
    std::vector<check_warning> warnings;
    bool has_bom = false;
    std::optional<std::int32_t> previous_number; // as the importer compares them
    std::size_t image_length = 0;                // records so far, without the end link
    std::optional<std::size_t> too_large_at;     // index of the too-large warning

    void warn(std::size_t line, std::size_t column, check_kind kind, std::string message)
    {
        warnings.push_back({line, column, kind, std::move(message)});
    }
};

// Bytes of 0x80 and above where the machine looks for tokens.
void warn_non_ascii(checker& state, std::size_t line, std::size_t column, std::string_view run)
{
    std::string readings;
    std::string listed;
    for (char c : run) {
        const auto byte = static_cast<unsigned char>(c);
        listed += (listed.empty() ? "" : " ") + hex_byte(byte);
        readings += (readings.empty() ? "" : ", ") + token_reading(byte);
    }
    state.warn(line, column, check_kind::non_ascii,
               std::string(run.size() == 1 ? "byte " : "bytes ") + listed +
                   " outside a string: cassmak -b stores " +
                   (run.size() == 1 ? "it as it is" : "them as they are") +
                   " and the machine reads tokens (" + readings +
                   "); write ASCII or put the text in quotes");
}

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
    std::string message = "'";
    message.append(text.substr(start, meant_end - start));
    if (token == 0)
        message += "' stays letters";
    else
        message.append("' is read as ").append(keyword_of(token)).append(" and letters");
    message += ": cassmak -b knows keywords only in upper case";
    if (meant == token_rem)
        message += ", so the remark after it is tokenized as statements";
    else if (meant == token_data)
        message += ", so its values are tokenized";
    message.append("; write ").append(keyword_of(meant));
    state.warn(line, first_column + start, check_kind::lower_case_keyword, std::move(message));
    position = meant_end;
    return meant;
}

// Walks a statement text as tokenize_line does, flag for flag, and reports
// what the lookup turns into something else than was meant. A keyword found
// in lower case steers the flags from there on as the keyword it means, so
// that what it brings about later in the line (a remark that is tokenized)
// is not reported once more. `skip` bytes at the start are already explained
// (a byte order mark).
void check_statement(checker& state, std::string_view text, std::size_t line,
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
        warn_non_ascii(state, line, first_column + run_at, run);
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
        state.warn(line, first_column + quote_at, check_kind::unclosed_string,
                   "string is not closed: cassmak -b tokenizes nothing after this quote up to the "
                   "end of the line; close it with a double quote");
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
        std::string message;
        if (blank == rest.size())
            message = "line holds only white space: cassmak -b stores it as an empty line 0; "
                      "remove the white space";
        else if (blank > 0 && digits > blank)
            message = "line begins with white space, so cassmak -b stores it as line 0 with " +
                      std::string(rest.substr(blank, digits - blank)) +
                      " in its text; start the line with its number";
        else
            message = "line has no number: cassmak -b stores it as line 0; start it with a line "
                      "number";
        state.warn(line, from + 1, check_kind::no_number, message);
        return;
    }

    std::size_t digit_count = 0;
    while (digit_count < text.size() && is_digit(text[digit_count]))
        ++digit_count;
    const std::string written(significant_digits(text.substr(0, digit_count)));
    const std::uint32_t stored = split.number & 0xFFFFu;
    const std::int32_t number = signed_line_number(split.number);
    if (exceeds(written, "2147483647"))
        state.warn(line, 1, check_kind::number_range,
                   "line number " + written + " is past 2147483647: cassmak -b counts it as " +
                       std::to_string(number) + " and stores " + std::to_string(stored) +
                       " (its low 16 bits); use 0 to 65535");
    else if (exceeds(written, "65535"))
        state.warn(line, 1, check_kind::number_range,
                   "line number " + written + " is stored as " + std::to_string(stored) +
                       " (its low 16 bits); use 0 to 65535");

    if (split.statement().empty())
        state.warn(line, 1, check_kind::empty_line_number,
                   "line " + written + " has no statement: cassmak -b stores an empty line " +
                       std::to_string(stored) + "; add a statement or remove the line");

    if (state.previous_number && number < *state.previous_number)
        state.warn(line, 1, check_kind::order,
                   "line number " + std::to_string(number) + " is smaller than the line before (" +
                       std::to_string(*state.previous_number) +
                       "): cassmak -b keeps the file's order and does not sort; move or "
                       "renumber the line");
    else if (state.previous_number && number == *state.previous_number)
        state.warn(line, 1, check_kind::order,
                   "line number " + std::to_string(number) +
                       " again: cassmak -b stores both lines under it; renumber one of them");
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
    state.warn(line, from + nul + 1, check_kind::nul,
               std::string("NUL byte: cassmak -b ignores it and ") +
                   (whole_line ? "the rest of the line"
                               : "what follows up to column " + std::to_string(end) +
                                     ", where it cuts the line") +
                   "; remove it");
}

// One piece that becomes a record: its statement, and the image it adds to.
void check_record(checker& state, const source_line& split, std::size_t line, std::size_t from)
{
    // The mark's bytes, at the very start of the text, have their own warning.
    const std::size_t skip = from == 0 && line == 1 && state.has_bom ? byte_order_mark.size() : 0;
    check_statement(state, split.statement(), line, from + split.statement_at + 1, skip);

    const std::size_t record_length = record_size(tokenize_line(split.statement()).size());
    if (!state.too_large_at && state.image_length + record_length + end_link_size >
                                   static_cast<std::size_t>(basic_image_max)) {
        state.too_large_at = state.warnings.size();
        state.warn(line, from + 1, check_kind::too_large, "");
    }
    state.image_length += record_length;
}

// One physical line `text` (its newline included) starting at `line_start`.
void check_physical_line(checker& state, std::string_view text, std::size_t line)
{
    std::size_t records = 0;
    std::optional<std::size_t> cut_at; // the first later piece that becomes a line
    std::uint32_t cut_number = 0;
    bool cut_at_digit = false; // the cut piece's number comes from its own text
    std::size_t returns = 0;
    std::size_t first_return = 0;

    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = next_piece_end(text, from);
        const std::string_view piece = text.substr(from, end - from);
        warn_nul(state, piece, line, from, end, end == text.size());
        const source_line split = split_source_line(piece);
        if (!split.line.empty()) {
            const bool first_piece = from == 0;
            if (first_piece)
                check_number(state, split, line, line == 1);
            else if (!cut_at) {
                cut_at = from;
                cut_number = split.number & 0xFFFFu;
                cut_at_digit = is_digit(split.line[0]);
            }
            ++records;
            state.previous_number = signed_line_number(split.number);

            const std::size_t inner_returns =
                static_cast<std::size_t>(std::count(split.line.begin(), split.line.end(), '\r'));
            if (inner_returns > 0 && returns == 0)
                first_return = from + split.line.find('\r');
            returns += inner_returns;

            check_record(state, split, line, from);
        }
        from = end;
    }

    std::string_view body = text;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.remove_suffix(1);
    if (returns > 0)
        state.warn(line, first_return + 1, check_kind::cr_line_ends,
                   "carriage return without a newline: cassmak -b ends lines only at newlines, so "
                   "the text after it runs into this line (" +
                       plural(returns, "such return", "such returns") +
                       " in it); save the file with LF or CR LF line ends");
    if (cut_at && !(returns > 0 && fits_once_split_at_returns(body)))
        state.warn(line, *cut_at + 1, check_kind::split_line,
                   "line of " + std::to_string(body.size()) +
                       " characters: cassmak -b cuts it into " + plural(records, "line", "lines") +
                       "; from column " + std::to_string(*cut_at + 1) + " it is stored as line " +
                       std::to_string(cut_number) +
                       (cut_at_digit ? ", a number taken from its leading digits" : "") +
                       "; keep lines within " + std::to_string(basic_piece_length) + " characters");
}

} // namespace

std::string_view check_kind_name(check_kind kind)
{
    return check_kinds()[static_cast<std::size_t>(kind)];
}

const std::vector<std::string_view>& check_kinds()
{
    static const std::vector<std::string_view> names = {
        "bom",          "no-number",          "split-line", "number-range",
        "order",        "lower-case-keyword", "non-ascii",  "nul",
        "cr-line-ends", "unclosed-string",    "too-large",  "empty-line-number",
        "source-size",
    };
    return names;
}

std::vector<check_warning> check_basic_source(std::string_view content)
{
    checker state;
    if (content.size() < static_cast<std::size_t>(basic_source_min) ||
        content.size() > static_cast<std::size_t>(basic_source_max))
        state.warn(1, 1, check_kind::source_size,
                   "source is " + plural(content.size(), "byte", "bytes") +
                       ": cassmak -b refuses sources outside " + std::to_string(basic_source_min) +
                       " to " + std::to_string(basic_source_max) + " bytes (status 7)");

    state.has_bom = content.substr(0, byte_order_mark.size()) == byte_order_mark;
    if (state.has_bom) {
        const std::string_view rest = content.substr(byte_order_mark.size());
        std::size_t digits = 0;
        while (digits < rest.size() && is_digit(rest[digits]))
            ++digits;
        state.warn(1, 1, check_kind::bom,
                   "UTF-8 byte order mark: cassmak -b keeps its bytes EF BB BF as text, so " +
                       (digits > 0 ? "line " + std::string(rest.substr(0, digits)) + " becomes"
                                   : std::string("the first line is")) +
                       " line 0 holding them (" + token_reading(0xEF) + ", " + token_reading(0xBB) +
                       ", " + token_reading(0xBF) + "); save the file without the mark");
    }

    std::size_t line = 1;
    for (std::size_t start = 0; start < content.size(); ++line) {
        std::size_t end = content.find('\n', start);
        end = end == std::string_view::npos ? content.size() : end + 1;
        check_physical_line(state, content.substr(start, end - start), line);
        start = end;
    }

    if (state.too_large_at)
        state.warnings[*state.too_large_at].message =
            "program image would be " + std::to_string(state.image_length + 2) +
            " bytes, more than " + std::to_string(basic_image_max) +
            ": cassmak -b refuses it (status 19) from this line on; shorten the program";

    std::stable_sort(state.warnings.begin(), state.warnings.end(),
                     [](const check_warning& a, const check_warning& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    return state.warnings;
}
