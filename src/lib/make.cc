#include "cassmak/make.h"

#include "basic/importer.h"
#include "cassmak/options.h"
#include "cassmak/run.h"
#include "cassmak/status.h"
#include "lib/guard.h"
#include "tape/blocks.h"

#include <cstring>

namespace cassmak {

namespace {

// The first of cassmak's failures for the fields, in the order its options
// are listed (-a, -n, -t, -m), with the option its message names.
struct field_failure {
    int status = status_ok;
    const char* option = "";
};

field_failure check_fields(const file_fields& fields)
{
    const auto type = static_cast<signed char>(fields.type);
    if (fields.address < 0 || fields.address > 0xFFFF)
        return {status_bad_address, "-a"};
    if (fields.number < 0 || fields.number > 99)
        return {status_bad_number, "-n"};
    if (type <= 0x20 || type == 0x7F)
        return {status_bad_type, "-t"};
    if (fields.name.size() > name_width)
        return {status_bad_name, "-m"};
    return {};
}

made_tape failed(int status, std::string_view text, long low = 0, long high = 0)
{
    made_tape made;
    made.status = -status;
    made.message = status_message(status, text, low, high);
    return made;
}

// The name as cassmak stores a given -m: padded to 8 characters.
std::string padded(std::string name)
{
    name.resize(name_width, ' ');
    return name;
}

} // namespace

made_tape make_file(const std::uint8_t* data, std::size_t size, const file_fields& fields,
                    const std::string& source)
{
    return detail::guarded<made_tape>(out_of_memory, [&] {
        if (const field_failure fault = check_fields(fields); fault.status != status_ok)
            return failed(fault.status, fault.option);
        if (size < binary_min || size > binary_max)
            return failed(status_input_size, source, binary_min, binary_max);
        made_tape made;
        made.image.reserve(size + tape_file_overhead);
        put_tape_file(made.image, data, static_cast<int>(size), fields.type, fields.number,
                      padded(fields.name), fields.address);
        return made;
    });
}

made_tape make_headless(const std::uint8_t* data, std::size_t size, const std::string& source)
{
    return detail::guarded<made_tape>(out_of_memory, [&] {
        if (size < binary_min || size > binary_max)
            return failed(status_input_size, source, binary_min, binary_max);
        made_tape made;
        made.image.reserve(size + block_length_size);
        put_headless_block(made.image, data, static_cast<int>(size));
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
        if (const field_failure fault = check_fields(fields); fault.status != status_ok)
            return failed(fault.status, fault.option);
        if (text.size() < basic_source_min || text.size() > basic_source_max)
            return failed(status_input_size, source, basic_source_min, basic_source_max);
        made_tape made;
        made.program.resize(payload_capacity);
        const basic_import imported = ::import_basic(made.program.data(), payload_capacity, text);
        // cassmak's texts for them, in its order, without the tab and line end.
        for (const import_line& line : imported.lines) {
            if (line.long_line)
                made.warnings.push_back({line.number, "Line is long. Possible problem!"});
            if (line.wrong_order)
                made.warnings.push_back({line.number, "Wrong order of line. Last line " +
                                                          std::to_string(line.previous_number)});
            if (line.short_line)
                made.warnings.push_back({line.number, "Line is short. Possible problem!"});
        }
        if (imported.length == import_too_large) {
            made_tape refused = failed(status_basic_too_large, source, 0, imported.limit);
            refused.warnings = std::move(made.warnings);
            return refused;
        }
        made.program.resize(static_cast<std::size_t>(imported.length));
        put_tape_file(made.image, made.program.data(), imported.length, basic_file_type, number,
                      padded(name), basic_base_address);
        return made;
    });
}

std::string derive_tape_name(const std::string& output_path)
{
    try {
        return derive_name(output_path);
    } catch (...) {
        return {};
    }
}

} // namespace cassmak
