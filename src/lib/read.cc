#include "cassmak/read.h"

#include "io/files.h"
#include "io/outcome_words.h"
#include "lib/guard.h"
#include "plan/plan.h"
#include "tape/json_lines.h"
#include "tape/limits.h"
#include "tape/reader.h"
#include "tape/spans.h"
#include "tape/statuses.h"
#include "tape/table.h"

#include <algorithm>
#include <cstdint>

namespace cassmak {

namespace {

entry public_entry(const core::tape_entry& from)
{
    entry to;
    to.position = from.entry;
    to.offset = from.offset;
    to.span = from.span;
    to.kind = from.kind == core::entry_kind::file       ? entry_kind::file
              : from.kind == core::entry_kind::headless ? entry_kind::headless
                                                        : entry_kind::truncated;
    to.length = from.length;
    to.number = from.number;
    to.type = from.type;
    to.address = from.address;
    to.name = from.name;
    to.header_checksum_good = from.header_checksum_good;
    to.data = from.data_checksum == core::data_checksum_state::good  ? data_checksum::good
              : from.data_checksum == core::data_checksum_state::bad ? data_checksum::bad
                                                                     : data_checksum::absent;
    to.payload_offset = from.payload_offset;
    to.payload_size = from.payload_size;
    to.problem = from.problem;
    to.kind_name = core::entry_kind_name(from.kind);
    to.checksum_words = core::checksum_state_name(from);
    return to;
}

// casstool list's status: damaged when any entry is.
int list_status(const std::vector<core::tape_entry>& entries)
{
    for (const core::tape_entry& one : entries)
        if (entry_damaged(one))
            return core::work_damaged;
    return core::work_sound;
}

} // namespace

tape_contents read_tape(const std::uint8_t* image, std::size_t size)
{
    return detail::guarded<tape_contents>(core::work_failed, [&] {
        // Counted first, so that the records are made once, in place: the
        // core's list of the same entries beside them, or the slack of a
        // vector grown by doubling, would take more than the records do.
        tape_contents contents;
        core::tape_entry one;
        std::size_t count = 0;
        for (std::size_t at = 0; core::next_tape_entry(image, size, at, false, one); at += one.span)
            ++count;
        contents.entries.reserve(count);
        contents.status = core::work_sound;
        for (std::size_t at = 0; core::next_tape_entry(image, size, at, false, one);
             at += one.span) {
            one.entry = contents.entries.size() + 1;
            if (entry_damaged(one))
                contents.status = core::work_damaged;
            contents.entries.push_back(public_entry(one));
        }
        return contents;
    });
}

tape_index index_tape(const std::uint8_t* image, std::size_t size)
{
    return detail::guarded<tape_index>(core::work_failed, [&] {
        tape_index index;
        if (size > UINT32_MAX) {
            index.status = core::work_failed;
            index.message = std::string(core::image_too_large);
            return index;
        }
        // From the length fields and the headers alone, which is what
        // grouping the blocks takes: no checksum is summed here, so that
        // reading the entries afterwards sums each once. Counted first, so
        // that the offsets are held once, never beside a copy as a growing
        // vector holds them.
        const core::image_bytes_reader read = core::memory_reader(image, size);
        std::size_t count = 0;
        core::count_entries(size, read, count);
        index.offsets.reserve(count);
        core::walk_entry_bounds(size, read, [&](std::size_t, const core::entry_bounds& bounds) {
            index.offsets.push_back(static_cast<std::uint32_t>(bounds.offset));
            return true;
        });
        return index;
    });
}

tape_contents read_entries(const std::uint8_t* image, std::size_t size, const tape_index& index,
                           std::size_t first, std::size_t count)
{
    return detail::guarded<tape_contents>(core::work_failed, [&] {
        tape_contents contents;
        const std::size_t total = index.offsets.size();
        const std::size_t end = first >= total ? first : first + std::min(count, total - first);
        contents.entries.reserve(end - first);
        core::tape_entry one;
        for (std::size_t at = first; at < end; ++at) {
            if (!core::next_tape_entry(image, size, index.offsets[at], false, one))
                break;
            one.entry = at + 1;
            if (entry_damaged(one))
                contents.status = core::work_damaged;
            contents.entries.push_back(public_entry(one));
        }
        return contents;
    });
}

text_result list_table(const std::uint8_t* image, std::size_t size, const std::string& path)
{
    return detail::guarded<text_result>(core::work_failed, [&] {
        text_result result;
        result.text = core::image_table(path, image, size);
        result.status = list_status(core::read_tape_image(image, size));
        return result;
    });
}

text_result list_json(const std::uint8_t* image, std::size_t size, const std::string& path)
{
    return detail::guarded<text_result>(core::work_failed, [&] {
        text_result result;
        const std::string start = core::json_line_start(path);
        const std::vector<core::tape_entry> entries = core::read_tape_image(image, size);
        for (const core::tape_entry& one : entries)
            append_json_line(result.text, start, one, 0);
        result.status = list_status(entries);
        return result;
    });
}

loaded_image load_image(const std::string& path)
{
    return detail::guarded<loaded_image>(core::work_failed, [&] {
        loaded_image loaded;
        std::size_t size = 0;
        const core::read_result result = core::read_whole_file(
            path, static_cast<std::size_t>(core::largest_image), loaded.image, size);
        if (result.outcome != core::read_outcome::read) {
            loaded.status = core::work_failed;
            loaded.message = core::read_failure_message(path, result, core::image_too_large);
            loaded.image.clear();
            return loaded;
        }
        loaded.image.resize(size);
        return loaded;
    });
}

loaded_tape load_tape(const std::string& path)
{
    loaded_image loaded = load_image(path);
    return {loaded.status, std::move(loaded.image), std::move(loaded.message)};
}

} // namespace cassmak
