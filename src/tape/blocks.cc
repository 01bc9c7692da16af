#include "tape/blocks.h"

#include <array>

namespace {

constexpr int header_body_length = 63;
constexpr int file_head_offset = 48;
constexpr int file_head_length = 14;
constexpr int name_length = 8;

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

// Upper case by the C locale's rules, which change only a to z; bytes of 0x80
// and above pass through whatever a locale might say about them.
std::uint8_t to_upper(char c)
{
    auto byte = static_cast<std::uint8_t>(c);
    return byte >= 'a' && byte <= 'z' ? static_cast<std::uint8_t>(byte - 'a' + 'A') : byte;
}

} // namespace

void store_word(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void sum_bytes(const std::uint8_t* bytes, int count, std::uint8_t& accumulator)
{
    for (int i = 0; i < count; ++i)
        accumulator = static_cast<std::uint8_t>(accumulator + bytes[i]);
}

void put_tape_file(output_image& image, const std::uint8_t* payload, int length, char file_type,
                   int file_number, std::string_view name, int address)
{
    std::array<std::uint8_t, header_body_length> header{};
    for (int i = 0; i < 16; ++i) {
        header[i] = 0xFF;
        header[16 + i] = 0x00;
        header[32 + i] = 0x55;
    }
    std::uint8_t* head = header.data() + file_head_offset;
    head[0] = static_cast<std::uint8_t>(file_number & 0xFF);
    head[1] = static_cast<std::uint8_t>(file_type);
    store_word(head + 2, static_cast<std::uint32_t>(address));
    store_word(head + 4, static_cast<std::uint32_t>(length - 1));
    for (std::size_t i = 0; i < name_length; ++i)
        head[6 + i] = i < name.size() ? to_upper(name[i]) : ' ';
    std::uint8_t head_sum = 0;
    sum_bytes(head, file_head_length, head_sum);
    header[header_body_length - 1] = head_sum;

    put_word(image, header_body_length);
    put_bytes(image, header.data(), header_body_length);

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
