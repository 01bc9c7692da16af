#include "plan/plan.h"

#include <algorithm>
#include <cstddef>

namespace cassmak::core {

void add_old_span(std::vector<plan_piece>& plan, std::uint64_t from, std::uint64_t count)
{
    if (count == 0)
        return;
    if (!plan.empty() && !plan.back().bytes && plan.back().from + plan.back().count == from) {
        plan.back().count += count;
        return;
    }
    plan.push_back({nullptr, from, count});
}

bool assemble_plan(const std::vector<plan_piece>& plan, const image_bytes_reader& read,
                   std::vector<std::uint8_t>& out)
{
    std::uint64_t total = 0;
    for (const plan_piece& piece : plan)
        total += piece.count;
    out.resize(static_cast<std::size_t>(total));
    std::size_t at = 0;
    for (const plan_piece& piece : plan) {
        const auto count = static_cast<std::size_t>(piece.count);
        if (piece.bytes)
            std::copy(piece.bytes, piece.bytes + count,
                      out.begin() + static_cast<std::ptrdiff_t>(at));
        else if (!read(piece.from, out.data() + at, count))
            return false;
        at += count;
    }
    return true;
}

std::uint64_t plan_size(const std::vector<plan_piece>& plan)
{
    std::uint64_t total = 0;
    for (const plan_piece& piece : plan)
        total += piece.count;
    return total;
}

bool assemble_plan_in_place(const std::vector<plan_piece>& plan, std::vector<std::uint8_t>& bytes)
{
    const std::uint64_t total = plan_size(plan);
    if (total > bytes.size())
        return false;
    // Each span must start at or after where it goes: what was written
    // before it then lies below every byte it and the later spans read.
    std::uint64_t at = 0;
    for (const plan_piece& piece : plan) {
        if (!piece.bytes && at > piece.from)
            return false;
        at += piece.count;
    }
    at = 0;
    for (const plan_piece& piece : plan) {
        const auto count = static_cast<std::size_t>(piece.count);
        std::uint8_t* to = bytes.data() + at;
        if (piece.bytes)
            std::copy(piece.bytes, piece.bytes + count, to);
        else if (at != piece.from)
            // Towards the front only, so a forward copy is safe.
            std::copy(bytes.data() + piece.from, bytes.data() + piece.from + count, to);
        at += count;
    }
    bytes.resize(static_cast<std::size_t>(total));
    return true;
}

image_bytes_reader plan_reader(const std::vector<plan_piece>& plan, const image_bytes_reader& old)
{
    // Where each piece starts in the new image: one offset a piece.
    std::vector<std::uint64_t> starts;
    starts.reserve(plan.size());
    std::uint64_t total = 0;
    for (const plan_piece& piece : plan) {
        starts.push_back(total);
        total += piece.count;
    }
    return [&plan, &old, starts = std::move(starts), total](std::uint64_t at, std::uint8_t* into,
                                                            std::size_t count) {
        if (at > total || count > total - at)
            return false;
        // The last piece that starts at or before `at` holds it.
        auto i = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), at) -
                                          starts.begin()) -
                 1;
        for (; count > 0; ++i) {
            const plan_piece& piece = plan[i];
            const std::uint64_t within = at - starts[i];
            const auto part =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, piece.count - within));
            if (piece.bytes)
                std::copy(piece.bytes + within, piece.bytes + within + part, into);
            else if (!old(piece.from + within, into, part))
                return false;
            into += part;
            at += part;
            count -= part;
        }
        return true;
    };
}

image_bytes_reader memory_reader(const std::uint8_t* bytes, std::size_t size)
{
    return [bytes, size](std::uint64_t at, std::uint8_t* into, std::size_t count) {
        if (at > size || count > size - at)
            return false;
        std::copy(bytes + at, bytes + at + count, into);
        return true;
    };
}

} // namespace cassmak::core
