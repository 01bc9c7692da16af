#include "programs/casstool/image.h"

#include "io/files.h"
#include "io/outcome_words.h"
#include "programs/casstool/report.h"
#include "tape/limits.h"

#include <algorithm>
#include <cstdio>
#include <new>

using namespace cassmak::core;

int load_file(const std::string& path, std::size_t limit, std::string_view too_large,
              std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    read_result result;
    try {
        result = read_whole_file(path, limit, buffer, size);
    } catch (const std::bad_alloc&) {
        return report_tool(tool_failed, path + ": out of memory");
    }
    if (result.outcome == read_outcome::read)
        return tool_ok;
    return report_tool(tool_failed, read_failure_message(path, result, too_large));
}

namespace {

int report_read(const std::string& path, const read_result& result)
{
    return report_tool(
        tool_failed,
        path +
            (result.outcome == read_outcome::open_failed ? ": cannot open: " : ": cannot read: ") +
            result.reason);
}

int refuse_large(const std::string& path)
{
    return report_tool(tool_failed, path + ": " + std::string(image_too_large));
}

} // namespace

int walk_image(const std::string& path, const image_visitor& visitor, std::uint64_t& size)
{
    size = 0;
    input_stream stream;
    read_result result = open_input_stream(path, stream);
    if (result.outcome != read_outcome::read)
        return report_read(path, result);
    if (stream.regular && stream.size > largest_image) {
        close_input_stream(stream);
        return refuse_large(path);
    }
    if (visitor.begin)
        visitor.begin(stream.regular, stream.size);
    // A pipe or a device shows its size only as it is read.
    const image_stream_reader next = [&](std::uint8_t* into, std::size_t room, std::size_t& got) {
        result = read_input_stream(stream, into, room, got);
        if (result.outcome != read_outcome::read)
            return false;
        size += got;
        return size <= largest_image;
    };
    const bool walked = walk_image_window(next, visitor.visit);
    close_input_stream(stream);
    if (walked)
        return tool_ok;
    return result.outcome != read_outcome::read ? report_read(path, result) : refuse_large(path);
}

int load_image(const std::string& path, std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    return load_file(path, static_cast<std::size_t>(largest_image), image_too_large, buffer, size);
}

int walk_image_again(image_walks& image, const image_visitor& visitor)
{
    if (image.path == "-" && !image.held) {
        input_stream stream;
        const bool regular =
            open_input_stream(image.path, stream).outcome == read_outcome::read && stream.regular;
        close_input_stream(stream);
        std::size_t size = 0;
        if (regular) {
            if (load_image(image.path, image.bytes, size) != tool_ok)
                return tool_failed;
            image.bytes.resize(size);
            image.held = true;
        }
    }
    if (!image.held) {
        std::uint64_t size = 0;
        return walk_image(image.path, visitor, size);
    }
    if (visitor.begin)
        visitor.begin(true, image.bytes.size());
    std::size_t at = 0;
    const image_stream_reader next = [&](std::uint8_t* into, std::size_t room, std::size_t& got) {
        got = std::min(room, image.bytes.size() - at);
        std::copy_n(image.bytes.data() + at, got, into);
        at += got;
        return true;
    };
    walk_image_window(next, visitor.visit);
    return tool_ok;
}

int load_entries(const std::string& path, tape_image& image)
{
    image = tape_image{};
    const int status = load_image(path, image.bytes, image.size);
    if (status != tool_ok)
        return status;
    image.bytes.resize(image.size);
    image.entries = read_tape_image(image.bytes.data(), image.size);
    return tool_ok;
}

int find_image_entry(const std::string& path, const std::function<bool(const tape_entry&)>& wanted,
                     found_entry& found)
{
    found = found_entry{};
    image_visitor visitor;
    visitor.visit = [&](const tape_entry& entry, const std::uint8_t* window, std::uint64_t) {
        ++found.count;
        if (!found.found && wanted(entry)) {
            found.found = true;
            found.entry = entry;
            found.payload.assign(window + entry.payload_offset,
                                 window + entry.payload_offset + entry.payload_size);
        }
        return true;
    };
    std::uint64_t size = 0;
    return walk_image(path, visitor, size);
}

int report_missing_entry(const std::string& path, const std::string& typed, std::size_t count)
{
    return report_tool(tool_failed, missing_entry_message(path, typed, count));
}

int look_at_target_folder(const std::optional<std::string>& folder, bool& missing)
{
    missing = false;
    if (!folder)
        return tool_ok;
    std::string reason;
    const path_kind kind = look_at_path(*folder, reason);
    missing = kind == path_kind::missing;
    if (missing || kind == path_kind::folder || kind == path_kind::link)
        return tool_ok;
    return report_tool(tool_failed, *folder + ": not a folder");
}

int make_target_folder(const std::string& folder, sync_mode sync)
{
    std::string reason;
    if (make_folders(folder, sync, reason))
        return tool_ok;
    return report_tool(tool_failed, folder + ": cannot make the folder: " + reason);
}

std::string path_in_folder(const std::optional<std::string>& folder, const std::string& name)
{
    if (!folder || folder->empty())
        return name;
    if (is_path_separator(folder->back()))
        return *folder + name;
    // The separator the folder was typed with, or the system's own.
    char separator = path_separator();
    for (auto c = folder->rbegin(); c != folder->rend(); ++c)
        if (is_path_separator(*c)) {
            separator = *c;
            break;
        }
    return *folder + separator + name;
}

int refuse_missing_data(const std::string& path, const tape_entry& entry)
{
    return report_tool(tool_failed, entry_label(path, entry) + " has no data block");
}

int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count, sync_mode sync)
{
    bool streamed = false;
    return write_bytes(output, bytes, count, sync, streamed);
}

int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count, sync_mode sync, bool& streamed)
{
    streamed = false;
    if (!output) {
        if (count > 0 && std::fwrite(bytes, 1, count, stdout) != count)
            return report_tool(tool_failed, "standard output: write failed");
        return finish_stdout(tool_ok);
    }
    const std::string& path = *output;
    // Standard output goes first, so that a log of both keeps its order.
    std::fflush(stdout);
    // A pipe or a terminal cannot be replaced, and takes the bytes as they
    // come.
    const write_result result = write_or_stream(path, bytes, count, sync, streamed);
    return report_write_result(path, result, streamed);
}

int write_new_file(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                   sync_mode sync, const std::string& taken)
{
    // Standard output goes first, so that a log of both keeps its order.
    std::fflush(stdout);
    const write_result result = write_new(path, bytes, count, sync);
    if (result.outcome == write_outcome::exists)
        return report_tool(tool_failed, path + ": " + taken);
    return report_write_result(path, result, false);
}

int write_binary(const std::optional<std::string>& output, const std::uint8_t* bytes,
                 std::size_t count, sync_mode sync)
{
    if (!output && is_terminal(console_stream::output))
        return report_tool(tool_failed, "standard output is a terminal; give -o FILE or "
                                        "redirect it");
    return write_bytes(output, bytes, count, sync);
}

int report_write_result(const std::string& path, const write_result& result, bool streamed)
{
    if (result.outcome == write_outcome::written)
        return tool_ok;
    return report_tool(tool_failed, write_failure_message(path, result, streamed));
}
