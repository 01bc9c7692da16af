#include "basic/references.h"

#include "basic/labels.h"
#include "basic/tokenizer.h"

namespace cassmak::core {

namespace {

constexpr int token_goto = 0x88;
constexpr int token_run = 0x89;
constexpr int token_restore = 0x8B;
constexpr int token_gosub = 0x8C;
constexpr int token_on = 0x91;
constexpr int token_list = 0x98;
constexpr int token_llist = 0x9A;
constexpr int token_then = 0xA1;
constexpr int token_minus = 0xA5;
constexpr int label_item = 0x100; // no byte: a label stands there

// A byte or a token of the line as the machine reads it, and where it was
// written. `looked`: the tokenizer was looking for keywords there, so a byte
// of a token's value is that keyword.
struct item {
    int code = 0;
    bool looked = false;
    std::size_t at = 0;
    std::size_t length = 0;
};

bool is_digit_item(const item& it)
{
    return it.code >= '0' && it.code <= '9';
}

struct walk {
    const std::vector<item>& items;
    std::vector<line_reference>& found;
    std::size_t i = 0;

    void skip_spaces()
    {
        while (i < items.size() && items[i].code == ' ')
            ++i;
    }

    // A line number or a label at the cursor, after any spaces.
    bool take_target()
    {
        skip_spaces();
        if (i < items.size() && items[i].code == label_item) {
            found.push_back({items[i].at, items[i].length, reference_kind::label});
            ++i;
            return true;
        }
        if (i >= items.size() || !is_digit_item(items[i]))
            return false;
        const std::size_t at = items[i].at;
        std::size_t end = at;
        for (; i < items.size() && is_digit_item(items[i]); ++i)
            end = items[i].at + items[i].length;
        found.push_back({at, end - at, reference_kind::number});
        return true;
    }

    bool next_is(int code)
    {
        const std::size_t before = i;
        skip_spaces();
        if (i < items.size() && items[i].code == code) {
            ++i;
            return true;
        }
        i = before;
        return false;
    }

    void run()
    {
        bool after_on = false; // in a statement that began an ON ... list
        while (i < items.size()) {
            const item& it = items[i++];
            if (!it.looked)
                continue;
            switch (it.code) {
            case label_item: found.push_back({it.at, it.length, reference_kind::label}); break;
            case ':': after_on = false; break;
            case token_on: after_on = true; break;
            case token_goto:
            case token_gosub:
                if (take_target() && after_on)
                    while (next_is(',') && take_target()) {
                    }
                break;
            case token_run:
            case token_restore:
            case token_then: take_target(); break;
            case token_list:
            case token_llist:
                take_target();
                if (next_is(token_minus))
                    take_target();
                break;
            default:
                if (it.code == label_mark && it.length == 2)
                    found.push_back({it.at, it.length, reference_kind::escape});
                break;
            }
        }
    }
};

// The items of the walk, kept between lines so that a long source allocates
// once.
thread_local std::vector<item> line_items;

} // namespace

void find_source_references(std::string_view statement, bool labels,
                            std::vector<line_reference>& found)
{
    found.clear();
    std::vector<item>& items = line_items;
    items.clear();
    lookup_flags flags;
    std::size_t position = 0;
    while (position < statement.size()) {
        const std::size_t start = position;
        const bool looking = flags.looking();
        int code = 0;
        if (looking && labels) {
            if (statement[position] == label_escape && position + 1 < statement.size() &&
                statement[position + 1] == label_mark) {
                // Stands for a mark, which steers nothing.
                items.push_back({label_mark, true, start, 2});
                position += 2;
                continue;
            }
            if (const std::size_t name = label_length(statement, position)) {
                // Becomes digits, which steer nothing either.
                items.push_back({label_item, true, start, name});
                position += name;
                continue;
            }
        }
        if (looking)
            code = match_keyword(statement, position);
        if (code == 0)
            code = static_cast<unsigned char>(statement[position++]);
        items.push_back({code, looking, start, position - start});
        follow_byte(flags, static_cast<unsigned char>(code));
    }
    walk{items, found}.run();
}

void find_stored_references(std::string_view text, std::vector<line_reference>& found)
{
    found.clear();
    std::vector<item>& items = line_items;
    items.clear();
    lookup_flags flags;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        items.push_back({byte, flags.looking(), at, 1});
        follow_byte(flags, byte);
    }
    walk{items, found}.run();
}

std::uint32_t reference_value(std::string_view digits)
{
    std::uint64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value >= reference_value_past)
            return reference_value_past;
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace cassmak::core

#include "basic/importer.h"

#include <algorithm>

namespace cassmak::core {

void find_program_references(std::string_view source,
                             const std::function<void(const placed_reference&)>& visit)
{
    std::vector<line_reference> found;
    std::size_t line = 1;
    for (std::size_t start = 0; start < source.size(); ++line) {
        std::size_t end = source.find('\n', start);
        end = end == std::string_view::npos ? source.size() : end + 1;
        const std::string_view text = source.substr(start, end - start);
        std::size_t head = label_definition_length(text);
        if (head != 0)
            while (head < text.size() && (text[head] == ' ' || text[head] == '\t'))
                ++head;
        const source_line split = split_source_line(text.substr(head));
        const std::size_t at = head + split.statement_at;
        find_source_references(split.statement(), true, found);
        for (const line_reference& reference : found)
            if (reference.kind != reference_kind::escape)
                visit({line, at + reference.at + 1,
                       text.substr(at + reference.at, reference.length), reference.kind});
        start = end;
    }
}

} // namespace cassmak::core
