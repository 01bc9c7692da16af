#include "cassmak/edit.h"

#include "lib/guard.h"
#include "tape/changes.h"

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
        return public_result(
            core::set_change(std::move(image), path, std::to_string(entry), entry, change, force));
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

change_result insert_entries(std::vector<std::uint8_t> image,
                             const std::vector<std::uint8_t>& source,
                             const std::vector<std::string>& entries, std::optional<std::size_t> at,
                             bool force, const std::string& path, const std::string& source_path)
{
    return detail::guarded<change_result>(core::change_refused, [&] {
        std::optional<std::string> at_word;
        if (at)
            at_word = std::to_string(*at);
        // The core reads no source as "the image itself"; an empty tape is a
        // source all the same.
        static const std::uint8_t nothing = 0;
        const std::uint8_t* from = source.empty() ? &nothing : source.data();
        return public_result(core::copy_change(std::move(image), path, from, source.size(),
                                               source_path, entries, at_word, at.value_or(0),
                                               force));
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
