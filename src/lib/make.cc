#include "cassmak/make.h"

#include "basic/importer.h"
#include "basic/pack.h"
#include "basic/pack_status.h"
#include "lib/guard.h"
#include "tape/blocks.h"
#include "tape/fields.h"

#include <cstring>

namespace cassmak {

namespace {

// The first of cassmak's failures for the fields, in the order its options
// are listed (-a, -n, -t, -m), with the option its message names.
struct field_failure {
    int status = core::status_ok;
    const char* option = "";
};

field_failure check_fields(const file_fields& fields)
{
    if (!core::address_valid(fields.address))
        return {core::status_bad_address, "-a"};
    if (!core::file_number_valid(fields.number))
        return {core::status_bad_number, "-n"};
    if (!core::file_type_valid(fields.type))
        return {core::status_bad_type, "-t"};
    if (!core::name_fits(fields.name))
        return {core::status_bad_name, "-m"};
    return {};
}

made_tape failed(int status, std::string_view text, long low = 0, long high = 0)
{
    made_tape made;
    made.status = -status;
    made.message = core::status_message(status, text, low, high);
    return made;
}

} // namespace

made_tape make_file(const std::uint8_t* data, std::size_t size, const file_fields& fields,
                    const std::string& source)
{
    return detail::guarded<made_tape>(out_of_memory, [&] {
        if (const field_failure fault = check_fields(fields); fault.status != core::status_ok)
            return failed(fault.status, fault.option);
        if (size < core::binary_min || size > core::binary_max)
            return failed(core::status_input_size, source, core::binary_min, core::binary_max);
        made_tape made;
        made.image.reserve(size + core::tape_file_overhead);
        core::put_tape_file(made.image, data, static_cast<int>(size), fields.type, fields.number,
                      core::padded_name(fields.name), fields.address);
        return made;
    });
}

made_tape make_headless(const std::uint8_t* data, std::size_t size, const std::string& source)
{
    return detail::guarded<made_tape>(out_of_memory, [&] {
        if (size < core::binary_min || size > core::binary_max)
            return failed(core::status_input_size, source, core::binary_min, core::binary_max);
        made_tape made;
        made.image.reserve(size + core::block_length_size);
        core::put_headless_block(made.image, data, static_cast<int>(size));
        return made;
    });
}

made_tape import_basic(std::string_view text, const std::string& name, int number,
                       const std::string& source)
{
    return detail::guarded<made_tape>(out_of_memory, [&] {
        file_fields fields;
        fields.name = name;
        fields.number = number;
        if (const field_failure fault = check_fields(fields); fault.status != core::status_ok)
            return failed(fault.status, fault.option);
        if (text.size() < core::basic_source_min || text.size() > core::basic_source_max)
            return failed(core::status_input_size, source, core::basic_source_min, core::basic_source_max);
        made_tape made;
        made.program.resize(core::payload_capacity);
        const core::basic_import imported = core::import_basic(made.program.data(), core::payload_capacity, text);
        // cassmak's texts for them, in its order, without the tab and line end.
        for (const core::import_line& line : imported.lines)
            for (std::string& text : import_line_warnings(line))
                made.warnings.push_back({line.number, std::move(text)});
        if (imported.length == core::import_too_large) {
            made_tape refused = failed(core::status_basic_too_large, source, 0, imported.limit);
            refused.warnings = std::move(made.warnings);
            return refused;
        }
        made.program.resize(static_cast<std::size_t>(imported.length));
        core::put_tape_file(made.image, made.program.data(), imported.length, core::basic_file_type, number,
                      core::padded_name(name), core::basic_base_address);
        return made;
    });
}

long parse_cassmak_number(const std::string& text)
{
    // A command line holds no NUL; a text with one is no number typed there.
    if (text.find('\0') != std::string::npos)
        return -1;
    return core::parse_number(text.c_str());
}

std::string derive_tape_name(const std::string& output_path)
{
    try {
        return core::derive_name(output_path);
    } catch (...) {
        return {};
    }
}

} // namespace cassmak
