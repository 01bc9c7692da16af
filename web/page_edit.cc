// The page's changes of a tape: entries removed, moved or retagged through the
// edits of the core, each refused with the page's words.
#include "page_api.h"

#include "tape/changes.h"
#include "tape/edit.h"
#include "tape/fields.h"

#include <algorithm>
#include <utility>

using namespace cassmak::core;

namespace {

std::string no_entry(std::size_t index)
{
    return "there is no entry " + std::to_string(index + 1);
}

edited_tape assembled(const std::vector<entry_piece>& pieces)
{
    edited_tape result;
    const std::size_t open = first_open_inside(pieces);
    if (open < pieces.size())
        result.message = "entry " + std::to_string(pieces[open].index + 1) +
                         " is cut short and keeps its meaning only at the end of the tape";
    else
        result.image = assemble_image(pieces);
    return result;
}

} // namespace

edited_tape remove_tape_entry(std::vector<std::uint8_t> bytes, std::size_t index)
{
    const tape_image image = make_tape_image(std::move(bytes));
    if (index >= image.entries.size())
        return {no_entry(index), {}};
    std::vector<bool> removed(image.entries.size());
    removed[index] = true;
    return assembled(remove_entries(image, removed));
}

edited_tape move_tape_entry(std::vector<std::uint8_t> bytes, std::size_t from, std::size_t to)
{
    const tape_image image = make_tape_image(std::move(bytes));
    if (from >= image.entries.size() || to >= image.entries.size())
        return {no_entry(std::max(from, to)), {}};
    return assembled(move_entry(image, from, to));
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
    tape_image image = make_tape_image(std::move(bytes));
    if (index >= image.entries.size())
        return {no_entry(index), {}};
    const tape_entry& entry = image.entries[index];
    if (entry.kind != entry_kind::file)
        return {"entry " + std::to_string(index + 1) + " is a " + entry_kind_name(entry.kind) +
                    " block and has no header to change",
                {}};
    const std::pair<const char*, const std::string*> typed[] = {
        {"name", &fields.name},
        {"number", &fields.number},
        {"type", &fields.type},
        {"address", &fields.address},
    };
    for (const auto& [field, value] : typed) {
        std::string message = retag_message(field, *value);
        if (!message.empty())
            return {std::move(message), {}};
    }
    // casstool set's own taking of each field, once the page's rules let it.
    header_change change;
    const std::pair<header_field, const std::string*> fields_given[] = {
        {header_field::name, &fields.name},
        {header_field::number, &fields.number},
        {header_field::type, &fields.type},
        {header_field::address, &fields.address},
    };
    for (const auto& [field, value] : fields_given)
        if (!value->empty())
            take_header_field(field, *value, change);
    apply_header_change(image.bytes, entry, change);
    return {{}, std::move(image.bytes)};
}
