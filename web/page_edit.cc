// The page's changes of a tape: entries removed, moved or retagged through the
// plans of the core, as the library makes them, each refused with the page's
// words.
#include "page_api.h"

#include "tape/changes.h"
#include "tape/fields.h"
#include "tape/spans.h"

#include <algorithm>
#include <utility>

using namespace cassmak::core;

namespace {

std::string no_entry(std::size_t index)
{
    return "there is no entry " + std::to_string(index + 1);
}

// The number of entries of `bytes`, and the bounds of entry `index` (0-based)
// where there is one.
std::size_t walk_to(const std::vector<std::uint8_t>& bytes, std::size_t index, entry_bounds& bounds)
{
    std::size_t count = 0;
    // Nothing fails reading an image held in memory.
    walk_entry_bounds(bytes.size(), memory_reader(bytes.data(), bytes.size()),
                      [&](std::size_t at, const entry_bounds& found) {
                          if (at == index)
                              bounds = found;
                          ++count;
                          return true;
                      });
    return count;
}

edited_tape edited(change_outcome&& outcome)
{
    if (outcome.status != change_refused)
        return {{}, std::move(outcome.image)};
    // The page has found every entry it names before it asks.
    if (outcome.open_entry == 0)
        return {std::move(outcome.message), {}};
    return {open_inside_page_words(outcome.open_entry), {}};
}

} // namespace

edited_tape remove_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index)
{
    entry_bounds bounds;
    if (index >= walk_to(bytes, index, bounds))
        return {no_entry(index), {}};
    return edited(remove_change(std::move(bytes), {}, {std::to_string(index + 1)}));
}

edited_tape move_tape_entry(std::vector<std::uint8_t> bytes, std::size_t from, std::size_t to)
{
    entry_bounds bounds;
    const std::size_t count = walk_to(bytes, from, bounds);
    if (from >= count || to >= count)
        return {no_entry(std::max(from, to)), {}};
    const std::string entry = std::to_string(from + 1);
    const std::string position = std::to_string(to + 1);
    return edited(move_change(std::move(bytes), {}, entry, from + 1, position, to + 1));
}

std::string retag_message(const std::string& field, const std::string& value)
{
    if (value.empty() || header_field_takes(header_field_named(field), value))
        return {};
    return header_field_rule(header_field_named(field));
}

edited_tape retag_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index,
                             const retag_fields& fields)
{
    entry_bounds bounds;
    if (index >= walk_to(bytes, index, bounds))
        return {no_entry(index), {}};
    if (bounds.kind != entry_kind::file)
        return {"entry " + std::to_string(index + 1) + " is a " + entry_kind_name(bounds.kind) +
                    " block and has no header to change",
                {}};
    header_change change;
    const std::pair<header_field, const std::string*> typed[] = {
        {header_field::name, &fields.name},
        {header_field::number, &fields.number},
        {header_field::type, &fields.type},
        {header_field::address, &fields.address},
    };
    for (const auto& [field, value] : typed)
        if (!value->empty() && !take_header_field(field, *value, change).empty())
            return {header_field_rule(field), {}};
    // The page rewrites a header whose checksum is bad without asking.
    const std::string entry = std::to_string(index + 1);
    return edited(set_change(std::move(bytes), {}, entry, index + 1, change, true));
}
