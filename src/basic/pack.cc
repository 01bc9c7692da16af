#include "basic/pack.h"

#include <vector>

int input_size_min(bool basic)
{
    return basic ? basic_source_min : binary_min;
}

int input_size_max(bool basic)
{
    return basic ? basic_source_max : binary_max;
}

basic_import pack_input(const pack_fields& fields, std::string_view input, output_image& image)
{
    basic_import result;
    std::vector<std::uint8_t> program;
    const auto* payload = reinterpret_cast<const std::uint8_t*>(input.data());
    result.length = static_cast<int>(input.size());
    if (fields.basic) {
        program.resize(payload_capacity);
        result = import_basic(program.data(), payload_capacity, input);
        if (result.length == import_too_large)
            return result;
        payload = program.data();
    }
    if (image.empty())
        image.reserve(static_cast<std::size_t>(result.length) + tape_file_overhead);
    if (fields.headless)
        put_headless_block(image, payload, result.length);
    else
        put_tape_file(image, payload, result.length, fields.file_type, fields.file_number,
                      fields.name, fields.address);
    return result;
}
