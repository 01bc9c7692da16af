// Random edit scripts over random images: the first byte says how many
// script bytes follow, the rest is the image. Each step removes, moves or
// copies entries or rewrites a header; every entry the step did not touch
// must keep its bytes, and a removal closed up in place must give the bytes
// of the copied one.
#include "tape/edit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace cassmak::core;

namespace {

void expect_entry(const tape_image& before, std::size_t from, const tape_image& after,
                  std::size_t to)
{
    const tape_entry& a = before.entries[from];
    const tape_entry& b = after.entries[to];
    if (a.span != b.span ||
        std::memcmp(before.bytes.data() + a.offset, after.bytes.data() + b.offset, a.span) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t script = std::min<std::size_t>(data[0], size - 1);
    const std::uint8_t* steps = data + 1;
    tape_image image = make_tape_image({data + 1 + script, data + size});
    for (std::size_t i = 0; i + 2 < script; i += 3) {
        const std::size_t count = image.entries.size();
        if (count == 0)
            break;
        const std::size_t x = steps[i + 1] % count;
        const std::size_t y = steps[i + 2] % count;
        std::vector<entry_piece> pieces;
        switch (steps[i] % 4) {
        case 0: {
            std::vector<bool> removed(count);
            removed[x] = true;
            pieces = remove_entries(image, removed);
            // Closing up in place gives the same bytes as the copy.
            if (remove_entries_in_place(make_tape_image(image.bytes), removed) !=
                assemble_image(pieces))
                std::abort();
            break;
        }
        case 1: pieces = move_entry(image, x, y); break;
        case 2: pieces = insert_entries(image, y, {{&image, x}}); break;
        default: {
            if (image.entries[x].kind != entry_kind::file)
                continue;
            std::vector<std::uint8_t> bytes = image.bytes;
            header_change change;
            change.number = steps[i + 2];
            apply_header_change(bytes, image.entries[x], change);
            const tape_image after = make_tape_image(bytes);
            if (after.entries.size() != count)
                std::abort();
            for (std::size_t e = 0; e < count; ++e)
                if (e != x)
                    expect_entry(image, e, after, e);
            image = after;
            continue;
        }
        }
        if (first_open_inside(pieces) != pieces.size())
            continue; // refused: an open entry would take in the next one
        const tape_image after = make_tape_image(assemble_image(pieces));
        if (after.entries.size() != pieces.size())
            std::abort();
        for (std::size_t e = 0; e < pieces.size(); ++e)
            expect_entry(image, pieces[e].index, after, e);
        image = after;
    }
    return 0;
}
