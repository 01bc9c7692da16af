// The module's exports: plain C functions over memory the script allocates,
// each answer a NUL-terminated JSON text that stays valid until the next call.
// Texts come as UTF-8, several of them separated by NUL bytes; an answer that
// carries bytes (a tape made) leaves them for page_output_data. The tape
// read is held here, and changed here, until another is read: the script
// asks for a window of its rows at a time, and reads its bytes when the page
// wants them.
#include "page_api.h"

#include <emscripten/emscripten.h>

#include <string>
#include <utility>
#include <vector>

using namespace cassmak::core;

namespace {

std::string answer;
std::vector<std::uint8_t> output;
held_tape tape;

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

// A change that is refused leaves the tape held as it was.
const char* give_edit(edited_tape edited)
{
    if (!edited.message.empty()) {
        std::string json = "{\"message\":";
        append_json_string(json, edited.message);
        return give(json + "}");
    }
    tape = hold_tape(std::move(edited.image));
    return give(held_tape_json(tape));
}

std::string message_json(const std::string& message)
{
    std::string json = "{\"message\":";
    append_json_string(json, message);
    return json + "}";
}

} // namespace

extern "C" {

// The tape to hold from now on, in place of the one held, whose memory is
// given back first: the page keeps the bytes of what it shows and gives them
// again to a fresh module should this one run out of memory.
EMSCRIPTEN_KEEPALIVE const char* page_hold_tape(const std::uint8_t* image, std::size_t size)
{
    tape = held_tape();
    tape = hold_tape(copy_of(image, size));
    return give(held_tape_json(tape));
}

EMSCRIPTEN_KEEPALIVE const char* page_tape_rows(std::size_t first, std::size_t count)
{
    return give(tape_rows_json(tape, first, count));
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* page_tape_data()
{
    return tape.bytes.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t page_tape_size()
{
    return tape.bytes.size();
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

// texts: the first number and the step, as typed.
EMSCRIPTEN_KEEPALIVE const char* page_renumber(const char* source, std::size_t size,
                                               const char* texts, std::size_t texts_size)
{
    std::vector<std::string> parts = split_texts(texts, texts_size);
    parts.resize(2);
    return give(renumbered_source_json(std::string_view(source, size), parts[0], parts[1]));
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

EMSCRIPTEN_KEEPALIVE const char* page_remove(std::size_t index)
{
    return give_edit(remove_tape_entry(tape.bytes, index));
}

EMSCRIPTEN_KEEPALIVE const char* page_move(std::size_t from, std::size_t to)
{
    return give_edit(move_tape_entry(tape.bytes, from, to));
}

// texts: "name", "number", "type" or "address", then the value as typed.
EMSCRIPTEN_KEEPALIVE const char* page_retag_message(const char* texts, std::size_t size)
{
    const std::vector<std::string> parts = split_texts(texts, size);
    return give(message_json(parts.size() == 2 ? retag_message(parts[0], parts[1]) : ""));
}

// texts: the new name, number, type and address; an empty one keeps the field.
EMSCRIPTEN_KEEPALIVE const char* page_retag(std::size_t index, const char* texts,
                                            std::size_t texts_size)
{
    std::vector<std::string> parts = split_texts(texts, texts_size);
    parts.resize(4);
    return give_edit(retag_tape_entry(tape.bytes, index, {parts[0], parts[1], parts[2], parts[3]}));
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
