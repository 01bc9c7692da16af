// Random edit scripts over random images: the first byte says how many
// script bytes follow, the rest is the image. Each step plans a removal, a
// move or a copy of an entry, or a header rewritten. A move or a copy is
// refused exactly when an entry that takes in whatever follows it would be
// followed by another; otherwise its bytes are the image's entries in the new order
// (a header rewritten changes its file head and checksum alone), the same
// when read through plan_reader and when made in place.
#include "tape/changes.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace cassmak::core;

namespace {

void expect(bool holds)
{
    if (!holds)
        std::abort();
}

// The bytes of the entries of `image` at `order` (0-based), back to back.
std::vector<std::uint8_t> in_order(const std::vector<std::uint8_t>& image,
                                   const std::vector<tape_entry>& entries,
                                   const std::vector<std::size_t>& order)
{
    std::vector<std::uint8_t> out;
    for (const std::size_t i : order)
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(entries[i].offset),
                   image.begin() +
                       static_cast<std::ptrdiff_t>(entries[i].offset + entries[i].span));
    return out;
}

bool open_inside(const std::vector<tape_entry>& entries, const std::vector<std::size_t>& order)
{
    for (std::size_t at = 0; at + 1 < order.size(); ++at)
        if (entry_is_open(entries[order[at]]))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t script = std::min<std::size_t>(data[0], size - 1);
    const std::uint8_t* steps = data + 1;
    std::vector<std::uint8_t> image(data + 1 + script, data + size);
    std::vector<tape_entry> entries = read_tape_image(image.data(), image.size());
    for (std::size_t i = 0; i + 2 < script; i += 3) {
        const std::size_t count = entries.size();
        if (count == 0)
            break;
        const std::size_t x = steps[i + 1] % count;
        const std::size_t y = steps[i + 2] % count;
        const image_bytes_reader read = memory_reader(image.data(), image.size());
        const image_source old{image.size(), read};
        std::vector<std::size_t> order(count);
        for (std::size_t e = 0; e < count; ++e)
            order[e] = e;
        change_plan plan;
        header_change change;
        const bool set = steps[i] % 4 == 3;
        switch (steps[i] % 4) {
        case 0:
            order.erase(order.begin() + static_cast<std::ptrdiff_t>(x));
            expect(plan_remove(old, "t", {std::to_string(x + 1)}, {}, plan));
            break;
        case 1:
            order.erase(order.begin() + static_cast<std::ptrdiff_t>(x));
            order.insert(order.begin() + static_cast<std::ptrdiff_t>(y), x);
            expect(plan_move(old, "t", "", x + 1, "", y + 1, {}, plan));
            break;
        case 2:
            order.insert(order.begin() + static_cast<std::ptrdiff_t>(y), x);
            expect(plan_copy(old, "t", nullptr, 0, "t", {std::to_string(x + 1)},
                             std::to_string(y + 1), y + 1, true, {}, plan));
            break;
        default:
            if (entries[x].kind != entry_kind::file)
                continue;
            change.number = steps[i + 2];
            expect(plan_set(old, "t", "", x + 1, change, true, {}, plan));
            break;
        }
        // A removal or a header rewritten leaves every other entry where it
        // stood relative to the rest: an entry that takes in what follows it
        // keeps what it had after it, or becomes the last, so neither is
        // refused for it.
        const bool moves = steps[i] % 4 == 1 || steps[i] % 4 == 2;
        expect((moves && open_inside(entries, order)) == (plan.status == change_refused));
        if (plan.status == change_refused)
            continue;
        std::vector<std::uint8_t> made;
        expect(assemble_plan(plan.pieces, old.read, made));
        std::vector<std::uint8_t> through(static_cast<std::size_t>(plan_size(plan.pieces)));
        expect(plan_reader(plan.pieces, old.read)(0, through.data(), through.size()));
        expect(through == made);
        std::vector<std::uint8_t> held = image;
        expect(!assemble_plan_in_place(plan.pieces, held) || held == made);
        const std::vector<tape_entry> after = read_tape_image(made.data(), made.size());
        expect(after.size() == order.size());
        if (set) {
            const std::size_t head = entries[x].offset + block_length_size + file_head_offset;
            expect(made.size() == image.size() && after[x].number == *change.number &&
                   after[x].header_checksum_good);
            for (std::size_t b = 0; b < made.size(); ++b)
                expect(made[b] == image[b] || (b >= head && b <= head + file_head_size));
        } else {
            expect(made == in_order(image, entries, order));
        }
        image = std::move(made);
        entries = after;
    }
    return 0;
}
