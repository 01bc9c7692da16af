// The module's exports: plain C functions over memory the script allocates,
// each answer a NUL-terminated JSON text that stays valid until the next call.
// Texts come as UTF-8, several of them separated by NUL bytes; an answer that
// carries bytes (a tape made or changed) leaves them for page_output_data.
#include "page_api.h"

#include <emscripten/emscripten.h>

#include <string>
#include <utility>
#include <vector>

using namespace cassmak::core;

namespace {

std::string answer;
std::vector<std::uint8_t> output;

const char* give(std::string text)
{
    answer = std::move(text);
    return answer.c_str();
}

std::vector<std::string> split_texts(const char* texts, std::size_t size)
{
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (texts[i] == '\0')
            out.emplace_back();
        else
            out.back() += texts[i];
    }
    return out;
}

std::vector<std::uint8_t> copy_of(const std::uint8_t* bytes, std::size_t size)
{
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

const char* give_edit(edited_tape edited)
{
    output = std::move(edited.image);
    std::string json = "{\"message\":";
    append_json_string(json, edited.message);
    return give(json + "}");
}

std::string message_json(const std::string& message)
{
    std::string json = "{\"message\":";
    append_json_string(json, message);
    return json + "}";
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* page_read_tape(const std::uint8_t* image, std::size_t size)
{
    return give(tape_entries_json(image, size));
}

// texts: the file's name.
EMSCRIPTEN_KEEPALIVE const char* page_tape_message(const char* texts, std::size_t size,
                                                   std::size_t tape_size)
{
    return give(message_json(tape_size_message(std::string(texts, size), tape_size)));
}

EMSCRIPTEN_KEEPALIVE const char* page_check_source(const char* source, std::size_t size)
{
    return give(source_warnings_json(std::string_view(source, size)));
}

// texts: the file's name.
EMSCRIPTEN_KEEPALIVE const char* page_defaults(const char* texts, std::size_t size)
{
    return give(page_defaults_json(std::string(texts, size)));
}

// texts: the field ("name", "number", "type" or "address"), then its value.
EMSCRIPTEN_KEEPALIVE const char* page_field_message(const char* texts, std::size_t size)
{
    const std::vector<std::string> parts = split_texts(texts, size);
    return give(message_json(
        parts.size() == 2 ? field_message(header_field_named(parts[0]), parts[1]) : ""));
}

// texts: the file's name.
EMSCRIPTEN_KEEPALIVE const char* page_input_message(const char* texts, std::size_t size,
                                                    std::size_t input_size, int basic)
{
    return give(message_json(input_size_message(basic != 0, std::string(texts, size), input_size)));
}

// texts: the file's name, how it is stored ("binary", "headless" or
// "basic"), then each field typed and its value, as page_field_message names
// them.
EMSCRIPTEN_KEEPALIVE const char* page_pack(const char* texts, std::size_t size,
                                           const std::uint8_t* input, std::size_t input_size)
{
    const std::vector<std::string> parts = split_texts(texts, size);
    pack_form form;
    form.headless = parts.size() > 1 && parts[1] == "headless";
    form.basic = parts.size() > 1 && parts[1] == "basic";
    for (std::size_t i = 2; i + 1 < parts.size(); i += 2)
        form.fields.emplace_back(header_field_named(parts[i]), parts[i + 1]);
    packed_file packed = pack_file(form, parts.empty() ? "" : parts[0], input, input_size);
    const std::string json = packed_file_json(packed);
    output = std::move(packed.image);
    return give(json);
}

EMSCRIPTEN_KEEPALIVE const char* page_list_basic(const std::uint8_t* payload, std::size_t size)
{
    return give(basic_listing_json(payload, size));
}

EMSCRIPTEN_KEEPALIVE const char* page_remove(const std::uint8_t* image, std::size_t size,
                                             std::size_t index)
{
    return give_edit(remove_tape_entry(copy_of(image, size), index));
}

EMSCRIPTEN_KEEPALIVE const char* page_move(const std::uint8_t* image, std::size_t size,
                                           std::size_t from, std::size_t to)
{
    return give_edit(move_tape_entry(copy_of(image, size), from, to));
}

// texts: "name", "number", "type" or "address", then the value as typed.
EMSCRIPTEN_KEEPALIVE const char* page_retag_message(const char* texts, std::size_t size)
{
    const std::vector<std::string> parts = split_texts(texts, size);
    return give(message_json(parts.size() == 2 ? retag_message(parts[0], parts[1]) : ""));
}

// texts: the new name, number, type and address; an empty one keeps the field.
EMSCRIPTEN_KEEPALIVE const char* page_retag(const std::uint8_t* image, std::size_t size,
                                            std::size_t index, const char* texts,
                                            std::size_t texts_size)
{
    std::vector<std::string> parts = split_texts(texts, texts_size);
    parts.resize(4);
    return give_edit(
        retag_tape_entry(copy_of(image, size), index, {parts[0], parts[1], parts[2], parts[3]}));
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* page_output_data()
{
    return output.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t page_output_size()
{
    return output.size();
}

} // extern "C"
