#include "basic/check_messages.h"

#include "basic/importer.h"
#include "basic/program_format.h"
#include "basic/tokenizer.h"

namespace cassmak::core {

namespace {

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

bool more_than(const std::string& digits, std::string_view limit)
{
    return digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
}

} // namespace

std::string source_size_message(std::size_t size)
{
    return "source is " + plural(size, "byte", "bytes") + ": cassmak -b refuses sources outside " +
           std::to_string(basic_source_min) + " to " + std::to_string(basic_source_max) +
           " bytes (status 7)";
}

std::string bom_message(std::string_view digits)
{
    return "UTF-8 byte order mark: cassmak -b keeps its bytes EF BB BF as text, so " +
           (!digits.empty() ? "line " + std::string(digits) + " becomes"
                            : std::string("the first line is")) +
           " line 0 holding them (" + token_reading(0xEF) + ", " + token_reading(0xBB) + ", " +
           token_reading(0xBF) + "); save the file without the mark";
}

std::string no_number_message(std::string_view rest, std::size_t blank, std::size_t digits)
{
    if (blank == rest.size())
        return "line holds only white space: cassmak -b stores it as an empty line 0; "
               "remove the white space";
    if (blank > 0 && digits > blank)
        return "line begins with white space, so cassmak -b stores it as line 0 with " +
               std::string(rest.substr(blank, digits - blank)) +
               " in its text; start the line with its number";
    return "line has no number: cassmak -b stores it as line 0; start it with a line number";
}

std::string number_range_message(const std::string& written, std::int32_t number,
                                 std::uint32_t stored)
{
    if (more_than(written, "2147483647"))
        return "line number " + written + " is past 2147483647: cassmak -b counts it as " +
               std::to_string(number) + " and stores " + std::to_string(stored) +
               " (its low 16 bits); use 0 to 65535";
    return "line number " + written + " is stored as " + std::to_string(stored) +
           " (its low 16 bits); use 0 to 65535";
}

std::string empty_line_number_message(const std::string& written, std::uint32_t stored)
{
    return "line " + written + " has no statement: cassmak -b stores an empty line " +
           std::to_string(stored) + "; add a statement or remove the line";
}

std::string order_message(std::int32_t number, std::int32_t previous, bool from_cut)
{
    if (number == previous)
        return "line number " + std::to_string(number) +
               " again: cassmak -b stores both lines under it; renumber one of them";
    return "line number " + std::to_string(number) + " is smaller than the line before (" +
           std::to_string(previous) + (from_cut ? ", the number of its cut-off piece" : "") +
           "): cassmak -b keeps the file's order and does not sort; move or renumber the line";
}

std::string lower_case_keyword_message(std::string_view written, int token, int meant)
{
    std::string message = "'";
    message.append(written);
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
    return message;
}

std::string non_ascii_message(std::string_view run)
{
    std::string readings;
    std::string listed;
    for (char c : run) {
        const auto byte = static_cast<unsigned char>(c);
        listed += (listed.empty() ? "" : " ") + hex_byte(byte);
        readings += (readings.empty() ? "" : ", ") + token_reading(byte);
    }
    return std::string(run.size() == 1 ? "byte " : "bytes ") + listed +
           " outside a string: cassmak -b stores " +
           (run.size() == 1 ? "it as it is" : "them as they are") +
           " and the machine reads tokens (" + readings +
           "); write ASCII or put the text in quotes";
}

std::string nul_message(std::size_t end, bool whole_line)
{
    return std::string("NUL byte: cassmak -b ignores it and ") +
           (whole_line
                ? "the rest of the line"
                : "what follows up to column " + std::to_string(end) + ", where it cuts the line") +
           "; remove it";
}

std::string unclosed_string_message()
{
    return "string is not closed: cassmak -b tokenizes nothing after this quote up to the end of "
           "the line; close it with a double quote";
}

std::string too_large_message(std::size_t whole)
{
    return "program image would be " + std::to_string(whole + end_link_size) +
           " bytes, more than " + std::to_string(basic_image_max) +
           ": cassmak -b refuses it (status 19) from this line on; shorten the program";
}

std::string cr_line_ends_message(std::size_t returns)
{
    return "carriage return without a newline: cassmak -b ends lines only at newlines, so the "
           "text after it runs into this line (" +
           plural(returns, "such return", "such returns") +
           " in it); save the file with LF or CR LF line ends";
}

std::string split_line_message(std::size_t length, std::size_t records, std::size_t cut_column,
                               std::uint32_t cut_number, bool from_digits)
{
    return "line of " + std::to_string(length) + " characters: cassmak -b cuts it into " +
           plural(records, "line", "lines") + "; from column " + std::to_string(cut_column) +
           " it is stored as line " + std::to_string(cut_number) +
           (from_digits ? ", a number taken from its leading digits" : "") +
           "; keep lines within " + std::to_string(basic_piece_length) + " characters";
}

} // namespace cassmak::core

namespace cassmak::core {

std::string missing_target_message(std::string_view digits)
{
    return "reference to line " + std::string(digits) +
           ", which is not in the program; refer to a line that exists";
}

std::string duplicate_number_message(std::uint32_t number, std::size_t first_line)
{
    return "line number " + std::to_string(number) + " again (first on source line " +
           std::to_string(first_line) + "): no GOTO " + std::to_string(number) +
           " reaches this line; renumber one of them";
}

std::string undefined_label_message(std::string_view name, bool dangling)
{
    if (dangling)
        return "label " + std::string(name) +
               " names no line: nothing follows its definition; put it before a line";
    return "label " + std::string(name) + " is not defined; define it with " + std::string(name) +
           ": at the start of a line";
}

std::string duplicate_label_message(std::string_view name, std::size_t first_line)
{
    return "label " + std::string(name) + " is defined again (first on source line " +
           std::to_string(first_line) + "); define each label once";
}

} // namespace cassmak::core
