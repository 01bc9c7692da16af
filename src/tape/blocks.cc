#include "tape/blocks.h"

#include "tape/fields.h"

#include <array>

namespace cassmak::core {

namespace {

void put_word(output_image& image, int value)
{
    std::uint8_t word[2];
    store_word(word, static_cast<std::uint32_t>(value));
    image.insert(image.end(), word, word + 2);
}

void put_bytes(output_image& image, const std::uint8_t* bytes, int count)
{
    if (count > 0)
        image.insert(image.end(), bytes, bytes + count);
}

} // namespace

void sum_bytes(const std::uint8_t* bytes, int count, std::uint8_t& accumulator)
{
    for (int i = 0; i < count; ++i)
        accumulator = static_cast<std::uint8_t>(accumulator + bytes[i]);
}

void put_tape_file(output_image& image, const std::uint8_t* payload, int length, char file_type,
                   int file_number, std::string_view name, int address)
{
    std::array<std::uint8_t, header_body_size> header{};
    for (std::size_t i = 0; i < sync_size; ++i)
        header[i] = sync_byte(i);
    std::uint8_t* head = header.data() + file_head_offset;
    head[head_number] = static_cast<std::uint8_t>(file_number & 0xFF);
    head[head_type] = static_cast<std::uint8_t>(file_type);
    store_word(head + head_address, static_cast<std::uint32_t>(address));
    store_word(head + head_length, static_cast<std::uint32_t>(length - 1));
    store_name(head + head_name, name);
    std::uint8_t head_sum = 0;
    sum_bytes(head, static_cast<int>(file_head_size), head_sum);
    header[header_checksum_offset] = head_sum;

    put_word(image, static_cast<int>(header_body_size));
    put_bytes(image, header.data(), static_cast<int>(header_body_size));

    put_word(image, length + 1);
    put_bytes(image, payload, length);
    std::uint8_t data_sum = 0;
    sum_bytes(payload, length, data_sum);
    image.push_back(data_sum);
}

void put_headless_block(output_image& image, const std::uint8_t* payload, int length)
{
    put_word(image, length);
    put_bytes(image, payload, length);
}

} // namespace cassmak::core
