#include "basic/detokenizer.h"

#include "basic/importer.h"
#include "basic/tokenizer.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace cassmak::core {

// Why a token may always be written as its raw byte: a token is 0x80 or
// above and no keyword holds such a byte, so the raw byte can neither start
// nor complete nor extend a match. Every lookup before it fails or matches as
// it did, the byte itself is copied through as the very token it stands for,
// and the flags, which follow the bytes appended, stay as they were. So any
// text the tokenizer turned into a record still gives that record with any
// of its keywords replaced by their tokens, and the all-raw text (the record
// itself) is a valid line for every record the tokenizer made.

namespace {

struct line_record {
    int index = 0;           // 1-based position in the program
    std::uint32_t address{}; // where the record sits in memory
    std::uint16_t number{};
    std::string_view text; // the tokenized statement, without its 0x00
};

// A record's line as it will be printed.
struct listed_line {
    line_record record;
    std::vector<bool> as_keyword; // per text byte: written as its keyword
    std::string text;             // the whole line, line break included
    bool comes_back = false;
};

constexpr std::size_t line_limit = basic_piece_length;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Where an address of the program lies. The machine has 16-bit addresses, so
// a place past 0xFFFF (only in an image cassmak did not write) is named by
// its offset in the data, never as a longer address.
std::string place(std::uint32_t address)
{
    char text[64];
    if (address <= 0xFFFF)
        std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(address));
    else
        std::snprintf(text, sizeof text, "offset %u of the data, past 0xFFFF",
                      static_cast<unsigned>(address - basic_base_address));
    return text;
}

std::string record_name(const line_record& record)
{
    return "line " + std::to_string(record.number) + " (record " + std::to_string(record.index) +
           " at " + place(record.address) + ")";
}

// Where the tokenizer, reading the record's own bytes, looks keywords up:
// the flags follow the bytes appended, so the record alone gives them at
// every position, with the very rules the tokenizer applies.
std::vector<bool> lookup_positions(std::string_view text)
{
    std::vector<bool> lookup(text.size());
    lookup_flags flags;
    for (std::size_t i = 0; i < text.size(); ++i) {
        lookup[i] = flags.looking();
        follow_byte(flags, static_cast<unsigned char>(text[i]));
    }
    return lookup;
}

std::string render(std::string_view text, const std::vector<bool>& as_keyword)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (as_keyword[i])
            out += keyword_of(static_cast<unsigned char>(text[i]));
        else
            out += text[i];
    }
    return out;
}

// Left to right, a token is written as its keyword when the text chosen so
// far, the keyword and the rest of the record as raw bytes tokenize to the
// record; otherwise raw. A raw 0xE7 (AT) before `N` must not become ATN, nor
// a literal `O` before NOT become ON + OT. When every keyword at once passes,
// each step would pass (each step's text is that one with keywords made raw),
// so the one check stands for them all.
//
// Each step tokenizes a window, not the whole text. Lookups read at most
// `longest` bytes, so those that start `longest - 1` or more bytes before the
// keyword go as in the valid text with the raw byte, where every element of
// the record starts a lookup of its own with the flags as the record gives
// them. The window starts at such an element with the flags off, where
// tokenize_line's fresh start is exact, and ends `longest - 1` bytes past
// the keyword, enough for every lookup before its end. Elements are written
// so that each can only come back as itself (a keyword starts with a byte
// below 0x80 and only a match gives a token byte), so the window giving the
// record's bytes up to the keyword means the text's read passes the keyword's
// end there with the record's flags, and the raw rest then goes as before.
std::vector<bool> choose_keywords(std::string_view text)
{
    const std::vector<bool> lookup = lookup_positions(text);
    std::vector<bool> as_keyword(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        as_keyword[i] = lookup[i] && !keyword_of(static_cast<unsigned char>(text[i])).empty();
    if (tokenize_line(render(text, as_keyword)) == text)
        return as_keyword;
    // No text gives this record; the plain form is printed and warned about.
    if (tokenize_line(text) != text)
        return as_keyword;
    static const std::size_t longest = longest_keyword();
    std::string chosen;
    std::vector<std::size_t> starts(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        starts[i] = chosen.size();
        if (as_keyword[i]) {
            std::size_t from = i;
            while (from > 0 && !(lookup[from] && starts[from] + longest - 1 <= starts[i]))
                --from;
            std::string window = chosen.substr(starts[from]);
            window += keyword_of(byte);
            window.append(text.substr(i + 1, longest - 1));
            const std::string_view expected = text.substr(from, i + 1 - from);
            as_keyword[i] = tokenize_line(window).compare(0, expected.size(), expected) == 0;
        }
        if (as_keyword[i])
            chosen += keyword_of(byte);
        else
            chosen += text[i];
    }
    return as_keyword;
}

std::string plain_prefix(const line_record& record)
{
    std::string prefix = std::to_string(record.number);
    if (!record.text.empty())
        prefix += ' ';
    return prefix;
}

// The importer takes the leading digits as the number (none: 0) and skips
// the white space after them, so the space is needed only before a digit,
// and a record numbered 0 needs no number at all.
std::string short_prefix(const line_record& record)
{
    const bool digit_first = !record.text.empty() && is_digit(record.text[0]);
    if (record.number == 0 && !record.text.empty())
        return digit_first ? " " : "";
    std::string prefix = std::to_string(record.number);
    if (digit_first)
        prefix += ' ';
    return prefix;
}

// Runs `line` through the importer's own read, split and tokenizer: it must
// give exactly one record, and that one equal to `record`.
bool comes_back(std::string_view line, const line_record& record)
{
    int records = 0;
    bool same = false;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t end = next_piece_end(line, at);
        const source_line split = split_source_line(line.substr(at, end - at));
        at = end;
        if (split.line.empty())
            continue;
        ++records;
        same = (split.number & 0xFFFFu) == record.number &&
               tokenize_line(split.statement()) == record.text;
    }
    return records == 1 && same;
}

} // namespace

std::size_t fit_keywords(std::string_view text, std::vector<bool>& as_keyword, std::size_t length,
                         std::size_t limit)
{
    // Dropping the longest first, leftmost first among equals, is dropping
    // them in order of length and then position: one sweep per length.
    for (std::size_t size = longest_keyword(); size > 1 && length > limit; --size) {
        for (std::size_t i = 0; i < text.size() && length > limit; ++i) {
            if (as_keyword[i] && keyword_of(static_cast<unsigned char>(text[i])).size() == size) {
                as_keyword[i] = false;
                length -= size - 1;
            }
        }
    }
    return length;
}

namespace {

// Drops the space after the number, then writes the longest keywords raw,
// until the line fits.
void fit_line(listed_line& line)
{
    const std::string_view text = line.record.text;
    std::string prefix = plain_prefix(line.record);
    std::size_t length = prefix.size() + render(text, line.as_keyword).size();
    if (length > line_limit) {
        const std::string shorter = short_prefix(line.record);
        length = length - prefix.size() + shorter.size();
        prefix = shorter;
        fit_keywords(text, line.as_keyword, length, line_limit);
    }
    line.text = prefix + render(text, line.as_keyword) + '\n';
}

std::string reason_for(const listed_line& line)
{
    const std::string_view text = line.record.text;
    if (tokenize_line(text) != text)
        return "its text spells out a keyword where the importer would store a token";
    if (!text.empty() && is_line_space(text[0]))
        return "its text begins with white space, which the importer skips";
    if (text.find('\n') != std::string_view::npos)
        return "its text holds a newline, which ends a source line";
    if (!text.empty() && text.back() == '\r')
        return "its text ends with a carriage return, which the importer strips";
    if (line.text.size() - 1 > line_limit)
        return "its shortest line has " + std::to_string(line.text.size() - 1) +
               " characters, more than the importer reads at once (126)";
    return "the importer would read its line differently";
}

listed_line list_record(const line_record& record)
{
    listed_line line{record, choose_keywords(record.text), {}, false};
    fit_line(line);
    line.comes_back = comes_back(line.text, record);
    return line;
}

// Keeps the whole text within the source lengths cassmak accepts. Lines that
// come back keep doing so: the shortest form is checked like any line, a
// blank line gives no record, and a line of exactly 126 characters ends a
// read by its length alone, as the last line ends it by the end of the file.
void fit_listing(std::vector<listed_line>& lines, std::size_t& total)
{
    for (std::size_t i = 0; i < lines.size() && total > basic_source_max; ++i) {
        listed_line& line = lines[i];
        if (!line.comes_back)
            continue;
        std::string shortest = short_prefix(line.record);
        shortest.append(line.record.text);
        shortest += '\n';
        if (shortest.size() < line.text.size() && comes_back(shortest, line.record)) {
            total -= line.text.size() - shortest.size();
            line.text = std::move(shortest);
        }
    }
    for (std::size_t i = 0; i < lines.size() && total > basic_source_max; ++i) {
        listed_line& line = lines[i];
        const bool last = i + 1 == lines.size();
        if (line.comes_back && (line.text.size() == line_limit + 1 || last) &&
            comes_back(std::string_view(line.text).substr(0, line.text.size() - 1), line.record)) {
            line.text.pop_back();
            --total;
        }
    }
}

// Whether the program ends at `at`: the zero link (with any bytes after it
// warned about), or the end of the data without it.
bool program_ends(const std::uint8_t* image, std::size_t size, std::size_t at,
                  const std::vector<listed_line>& lines, std::vector<std::string>& warnings)
{
    const std::string after = lines.empty() ? std::string("before any record")
                                            : "after " + record_name(lines.back().record);
    if (at + end_link_size > size) {
        warnings.push_back("the data ends at " +
                           place(static_cast<std::uint32_t>(basic_base_address + size)) +
                           " without the zero link " + after);
        return true;
    }
    if (load_word(image + at + record_link) != 0)
        return false;
    if (at + end_link_size != size) {
        const std::size_t extra = size - at - end_link_size;
        warnings.push_back(std::to_string(extra) +
                           (extra == 1 ? " byte follows" : " bytes follow") + " the zero link at " +
                           place(static_cast<std::uint32_t>(basic_base_address + at)) + " " +
                           after);
    }
    return true;
}

// Walks the records of the program image, listing each and warning about
// the links and about lines that will not come back identically.
void list_records(const std::uint8_t* image, std::size_t size, std::vector<listed_line>& lines,
                  std::vector<std::string>& warnings)
{
    std::size_t at = 0;
    for (int index = 1;; ++index) {
        const auto address = static_cast<std::uint32_t>(basic_base_address + at);
        if (program_ends(image, size, at, lines, warnings))
            break;
        const std::uint32_t link = load_word(image + at + record_link);
        if (at + 4 > size) {
            warnings.push_back("record " + std::to_string(index) + " at " + place(address) +
                               " is cut off before its number");
            break;
        }
        line_record record;
        record.index = index;
        record.address = address;
        record.number = static_cast<std::uint16_t>(load_word(image + at + record_number));
        const auto* text = reinterpret_cast<const char*>(image + at + 4);
        std::size_t length = 0;
        while (at + 4 + length < size && text[length] != '\0')
            ++length;
        record.text = std::string_view(text, length);
        const bool cut_off = at + 4 + length == size;
        const std::size_t record_size = 4 + length + 1;
        if (cut_off) {
            warnings.push_back(record_name(record) +
                               " runs past the end of the data, without its 0x00 "
                               "and the zero link");
        } else if (link != address + record_size) {
            char to[16];
            std::snprintf(to, sizeof to, "0x%04X", static_cast<unsigned>(link));
            const auto next = static_cast<std::uint32_t>(address + record_size);
            warnings.push_back(record_name(record) + " links to " + to +
                               (next <= 0xFFFF ? " instead of " + place(next)
                                               : "; the next record would lie past 0xFFFF, at "
                                                 "offset " +
                                                     std::to_string(next - basic_base_address) +
                                                     " of the data"));
        }
        lines.push_back(list_record(record));
        if (!lines.back().comes_back)
            warnings.push_back(record_name(record) +
                               " will not come back identically: " + reason_for(lines.back()));
        if (cut_off)
            break;
        at += record_size;
    }
}

// The lines as one text within the source lengths cassmak accepts.
void join_lines(std::vector<listed_line>& lines, basic_listing& listing)
{
    std::size_t total = 0;
    for (const listed_line& line : lines)
        total += line.text.size();
    if (total > basic_source_max)
        fit_listing(lines, total);
    if (total > basic_source_max)
        listing.warnings.push_back("the listing has " + std::to_string(total) +
                                   " bytes, more than cassmak reads from a source (65535)");
    listing.text.reserve(total + basic_source_min);
    for (const listed_line& line : lines)
        listing.text += line.text;
    // Blank lines give no record; they only bring a tiny program up to the
    // shortest source cassmak reads.
    if (listing.text.size() < basic_source_min)
        listing.text.resize(basic_source_min, '\n');
}

} // namespace

basic_listing list_basic_program(const std::uint8_t* image, std::size_t size)
{
    basic_listing listing;
    std::vector<listed_line> lines;
    list_records(image, size, lines, listing.warnings);
    join_lines(lines, listing);
    return listing;
}

} // namespace cassmak::core
