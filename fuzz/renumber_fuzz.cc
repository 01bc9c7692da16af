// The reference walk and the label pass over any bytes: renumbering a source
// keeps every byte but the numbers it rewrites, so a source without labels
// renumbered twice with the same numbers comes back the same where it named
// no missing line; a refusal writes nothing; the references found lie within their lines and are
// digits or labels; a stored program renumbered once is renumbered to itself.
#include "basic/checker.h"
#include "basic/references.h"
#include "basic/renumber.h"
#include "basic/renumber_program.h"
#include "tape/statuses.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace cassmak::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const renumber_settings settings{data[0], 1u + data[1] % 16};
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    const source_renumber once = renumber_source(text, settings);
    if (once.status == work_failed && !once.text.empty())
        std::abort();
    if (once.status != work_failed && text.find('@') == std::string_view::npos) {
        // A reference to a line that is not there stays as written and may
        // name one of the new numbers: only a source without one comes back
        // the same from a second renumbering.
        if (once.status == work_sound && renumber_source(once.text, settings).text != once.text)
            std::abort();
        if (number_source(text, settings).text != (once.labelled ? once.text : text))
            std::abort();
    }

    find_program_references(text, [&](const placed_reference& reference) {
        if (reference.written.empty() || reference.column == 0)
            std::abort();
        const bool label = reference.written[0] == '@';
        if (label != (reference.kind == reference_kind::label))
            std::abort();
        for (const char c : reference.written.substr(label ? 1 : 0))
            if (!label && (c < '0' || c > '9'))
                std::abort();
    });
    check_basic_source(text, [](const check_warning&) {});

    const program_renumber stored = renumber_program(data + 2, size - 2, settings);
    if (stored.status != work_failed) {
        const program_renumber again =
            renumber_program(stored.image.data(), stored.image.size(), settings);
        if (again.image != stored.image)
            std::abort();
    }
    return 0;
}
