#include "cassmak/edit.h"

#include "basic/renumber_program.h"
#include "lib/guard.h"
#include "tape/changes.h"
#include "tape/words.h"

namespace cassmak {

namespace {

change_result public_result(core::change_outcome&& outcome)
{
    change_result result;
    result.status = outcome.status;
    result.image = std::move(outcome.image);
    result.lines = std::move(outcome.lines);
    result.notes = std::move(outcome.notes);
    result.message = std::move(outcome.message);
    return result;
}

change_result refused(std::string message)
{
    change_result result;
    result.status = core::change_refused;
    result.message = std::move(message);
    return result;
}

// The changes by entry number, each number with the word that names it in
// a message: its digits, or the word typed where the caller had one.
change_result retag(std::vector<std::uint8_t>&& image, const std::string& word, std::size_t entry,
                    const header_fields& fields, bool force, const std::string& path)
{
    core::header_change change;
    const std::pair<core::header_field, const std::optional<std::string>*> typed[] = {
        {core::header_field::name, &fields.name},
        {core::header_field::number, &fields.number},
        {core::header_field::type, &fields.type},
        {core::header_field::address, &fields.address},
    };
    bool any = false;
    for (const auto& [field, value] : typed) {
        if (!*value)
            continue;
        any = true;
        std::string problem = core::take_header_field(field, **value, change);
        if (!problem.empty())
            return refused(std::move(problem));
    }
    if (!any)
        return refused("nothing to set; give --name, --number, --type or --address");
    return public_result(core::set_change(std::move(image), path, word, entry, change, force));
}

change_result insert(std::vector<std::uint8_t>&& image, const std::vector<std::uint8_t>& source,
                     const std::vector<std::string>& entries,
                     const std::optional<std::string>& at_word, std::size_t at, bool force,
                     const std::string& path, const std::string& source_path)
{
    // The core reads no source as "the image itself"; an empty tape is a
    // source all the same.
    static const std::uint8_t nothing = 0;
    const std::uint8_t* from = source.empty() ? &nothing : source.data();
    return public_result(core::copy_change(std::move(image), path, from, source.size(), source_path,
                                           entries, at_word, at, force));
}

} // namespace

change_result remove_entries(std::vector<std::uint8_t> image,
                             const std::vector<std::string>& entries, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        return public_result(core::remove_change(std::move(image), path, entries));
    });
}

change_result retag_entry(std::vector<std::uint8_t> image, std::size_t entry,
                          const header_fields& fields, bool force, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        return retag(std::move(image), std::to_string(entry), entry, fields, force, path);
    });
}

change_result retag_typed_entry(std::vector<std::uint8_t> image, const std::string& entry,
                                const header_fields& fields, bool force, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::size_t number = 0;
        if (!core::parse_entry(entry, number))
            return refused(core::not_a_number("entry", entry));
        return retag(std::move(image), entry, number, fields, force, path);
    });
}

change_result move_entry(std::vector<std::uint8_t> image, std::size_t entry, std::size_t position,
                         const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        return public_result(core::move_change(std::move(image), path, std::to_string(entry), entry,
                                               std::to_string(position), position));
    });
}

change_result renumber_entry(std::vector<std::uint8_t> image, std::size_t entry,
                             std::uint32_t start, std::uint32_t step, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        return public_result(core::renumber_change(std::move(image), path, std::to_string(entry),
                                                   entry, {start, step}));
    });
}

change_result renumber_typed_entry(std::vector<std::uint8_t> image, const std::string& entry,
                                   std::uint32_t start, std::uint32_t step, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::size_t number = 0;
        if (!core::parse_entry(entry, number))
            return refused(core::not_a_number("entry", entry));
        return public_result(
            core::renumber_change(std::move(image), path, entry, number, {start, step}));
    });
}

change_result move_typed_entry(std::vector<std::uint8_t> image, const std::string& entry,
                               const std::string& position, const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::size_t from = 0, to = 0;
        if (!core::parse_entry(entry, from))
            return refused(core::not_a_number("entry", entry));
        if (!core::parse_entry(position, to))
            return refused(core::not_a_number("position", position));
        return public_result(core::move_change(std::move(image), path, entry, from, position, to));
    });
}

change_result insert_entries(std::vector<std::uint8_t> image,
                             const std::vector<std::uint8_t>& source,
                             const std::vector<std::string>& entries, std::optional<std::size_t> at,
                             bool force, const std::string& path, const std::string& source_path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::optional<std::string> at_word;
        if (at)
            at_word = std::to_string(*at);
        return insert(std::move(image), source, entries, at_word, at.value_or(0), force, path,
                      source_path);
    });
}

change_result insert_entries_typed(std::vector<std::uint8_t> image,
                                   const std::vector<std::uint8_t>& source,
                                   const std::vector<std::string>& entries,
                                   const std::optional<std::string>& at, bool force,
                                   const std::string& path, const std::string& source_path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::size_t before = 0;
        if (at && !core::parse_entry(*at, before))
            return refused(core::not_a_number("position", *at));
        return insert(std::move(image), source, entries, at, before, force, path, source_path);
    });
}

change_result add_entries(std::vector<std::uint8_t> image, const std::vector<std::uint8_t>& made,
                          const std::vector<std::string>& names, bool force,
                          const std::string& path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        return public_result(
            core::add_change(std::move(image), path, made.data(), made.size(), names, force));
    });
}

change_result join_tapes(const std::vector<std::vector<std::uint8_t>>& images,
                         const std::vector<std::string>& paths, const std::string& output,
                         bool force)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        if (paths.size() != images.size())
            return refused("join: one path is needed for each image");
        return public_result(core::join_change(images, paths, output, force));
    });
}

split_result split_tape(const std::vector<std::uint8_t>& image, bool force, const std::string& path)
{
    return detail::guarded<split_result>(core::change_refused, [&] {
        core::split_plan plan = core::plan_split(image.data(), image.size(), path, force);
        split_result result;
        result.status = plan.status;
        if (plan.status == core::change_refused) {
            result.message = std::move(plan.message);
            return result;
        }
        result.notes = std::move(plan.notes);
        for (core::split_part& part : plan.parts) {
            split_piece piece;
            const auto begin = image.begin() + static_cast<std::ptrdiff_t>(part.offset);
            piece.image.assign(begin, begin + static_cast<std::ptrdiff_t>(part.span));
            result.lines += core::split_line(part, part.file_name);
            piece.file_name = std::move(part.file_name);
            result.pieces.push_back(std::move(piece));
        }
        return result;
    });
}

} // namespace cassmak
