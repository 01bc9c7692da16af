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

    void warn(std::size_t line, std::size_t column, check_kind kind, std::string message)
    {
        if (!quiet)
            pending.push_back({line, column, 0, kind, std::move(message)});
    }
};

// The display width of the character at `at` of `text`, and in `length` its
// bytes: a tab runs to the next multiple of 8, a UTF-8 character is one
// column (two for the wide East Asian ones, none for a combining mark), and
// any other byte one column, as GCC counts them.
std::size_t display_width(std::string_view text, std::size_t at, std::size_t column,
                          std::size_t& length)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    length = 1;
    if (byte == '\t')
        return 8 - (column - 1) % 8;
    std::size_t size = 0;
    std::uint32_t point = 0;
    if (byte >= 0xC2 && byte <= 0xDF) {
        size = 2;
        point = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        size = 3;
        point = byte & 0x0Fu;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        size = 4;
        point = byte & 0x07u;
    }
    if (size == 0 || text.size() - at < size)
        return 1;
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 1;
        point = point << 6 | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and points past U+10FFFF are no characters.
    if ((size == 3 && point < 0x800) || (size == 4 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF))
        return 1;
    length = size;
    struct range {
        std::uint32_t first, last;
    };
    static const range combining[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    };
    static const range wide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const range& r : combining)
        if (point >= r.first && point <= r.last)
            return 0;
    for (const range& r : wide)
        if (point >= r.first && point <= r.last)
            return 2;
    return 1;
}

// Turns the byte columns of one line's warnings, handed over in order, into
// display columns, counting each byte of the line once.
struct column_counter {
    std::string_view line;
    std::size_t byte = 0;   // counted up to here
    std::size_t column = 1; // the display column of `byte`

    std::size_t display(std::size_t byte_column)
    {
        const std::size_t target = std::min(byte_column - 1, line.size());
        while (byte < target) {
            std::size_t length = 1;
            const std::size_t width = display_width(line, byte, column, length);
            if (byte + length > target)
                break;
            byte += length;
            column += width;
        }
        return column + (target - byte);
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
                       (state.previous_from_cut ? ", the number of its cut-off piece" : "") +
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
        state.warn(line, *unclosed, check_kind::unclosed_string,
                   "string is not closed: cassmak -b tokenizes nothing after this quote up to the "
                   "end of the line; close it with a double quote");

    const std::size_t record_length = record_size(tokenize_line(split.statement()).size());
    if (!state.too_large && state.image_length + record_length + end_link_size >
                                static_cast<std::size_t>(basic_image_max)) {
        state.too_large = true;
        // The size the whole image would have: this record and all after it.
        const std::size_t whole = state.image_length + image_from(state.content, line_start + from);
        state.warn(line, from + 1, check_kind::too_large,
                   "program image would be " + std::to_string(whole + end_link_size) +
                       " bytes, more than " + std::to_string(basic_image_max) +
                       ": cassmak -b refuses it (status 19) from this line on; shorten the "
                       "program");
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
        whole_line.push_back(
            {line, shape.first_return + 1, 0, check_kind::cr_line_ends,
             "carriage return without a newline: cassmak -b ends lines only at newlines, so "
             "the text after it runs into this line (" +
                 plural(shape.returns, "such return", "such returns") +
                 " in it); save the file with LF or CR LF line ends"});
    if (shape.cut_at && !(shape.returns > 0 && fits_once_split_at_returns(body)))
        whole_line.push_back(
            {line, *shape.cut_at + 1, 0, check_kind::split_line,
             "line of " + std::to_string(body.size()) + " characters: cassmak -b cuts it into " +
                 plural(shape.records, "line", "lines") + "; from column " +
                 std::to_string(*shape.cut_at + 1) + " it is stored as line " +
                 std::to_string(shape.cut_number) +
                 (shape.cut_at_digit ? ", a number taken from its leading digits" : "") +
                 "; keep lines within " + std::to_string(basic_piece_length) + " characters"});
    const std::optional<std::size_t> meant_unclosed =
        shape.cut_at ? unclosed_before_cut(state, text, line) : std::nullopt;

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
    out.append(source)
        .append(":")
        .append(std::to_string(line))
        .append(":")
        .append(std::to_string(display_column))
        .append(": warning: ")
        .append(message)
        .append(" [")
        .append(kind)
        .append("]\n");
}
