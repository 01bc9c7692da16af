#include "casstool/image.h"

#include "casstool/report.h"
#include "io/files.h"

#include <cstdio>

namespace {

// The largest image read. No tape image comes near it; it stops a device such
// as /dev/zero from eating the memory.
constexpr std::size_t image_limit = (std::size_t{1} << 30) - 1;

} // namespace

int load_file(const std::string& path, std::size_t limit, std::string_view too_large,
              std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    const read_result result = read_whole_file(path, limit, buffer, size);
    switch (result.outcome) {
    case read_outcome::read: return tool_ok;
    case read_outcome::open_failed:
        return report_tool(tool_failed, path + ": cannot open: " + result.reason);
    case read_outcome::read_failed:
        return report_tool(tool_failed, path + ": cannot read: " + result.reason);
    case read_outcome::too_large: break;
    }
    return report_tool(tool_failed, path + ": " + std::string(too_large));
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
    return report_tool(tool_failed, path + ": larger than 1 GiB, not a tape image");
}

} // namespace

int walk_image(const std::string& path, const image_visitor& visitor, std::uint64_t& size)
{
    size = 0;
    input_stream stream;
    read_result result = open_input_stream(path, stream);
    if (result.outcome != read_outcome::read)
        return report_read(path, result);
    if (stream.regular && stream.size > image_limit) {
        close_input_stream(stream);
        return refuse_large(path);
    }
    if (visitor.begin)
        visitor.begin(stream.regular, stream.size);
    // Whenever fewer than longest_entry bytes are left in the window, the
    // rest moves to its front and the window is filled up again, so that
    // each entry is walked whole.
    constexpr std::size_t window_size = 4 * longest_entry;
    std::vector<std::uint8_t> window(window_size);
    std::size_t filled = 0;
    std::size_t at = 0;
    std::uint64_t base = 0;
    std::size_t number = 0;
    bool end = false;
    tape_entry entry;
    for (;;) {
        if (!end && filled - at < longest_entry) {
            std::copy(window.begin() + static_cast<std::ptrdiff_t>(at),
                      window.begin() + static_cast<std::ptrdiff_t>(filled), window.begin());
            base += at;
            filled -= at;
            at = 0;
            while (!end && filled < window_size) {
                std::size_t got = 0;
                result =
                    read_input_stream(stream, window.data() + filled, window_size - filled, got);
                if (result.outcome != read_outcome::read) {
                    close_input_stream(stream);
                    return report_read(path, result);
                }
                end = got == 0;
                filled += got;
                size += got;
            }
            if (size > image_limit) {
                close_input_stream(stream);
                return refuse_large(path);
            }
        }
        if (!next_tape_entry(window.data(), filled, at, !end, entry))
            break;
        entry.entry = ++number;
        if (!visitor.visit(entry, window.data(), base))
            break;
        at += entry.span;
    }
    close_input_stream(stream);
    return tool_ok;
}

int load_image(const std::string& path, std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    return load_file(path, image_limit, "larger than 1 GiB, not a tape image", buffer, size);
}

int load_entries(const std::string& path, loaded_image& image)
{
    const int status = load_image(path, image.bytes, image.size);
    if (status == tool_ok)
        image.entries = read_tape_image(image.bytes.data(), image.size);
    return status;
}

const tape_entry* find_entry(const std::string& path, const loaded_image& image, std::size_t number)
{
    const std::size_t count = image.entries.size();
    if (number >= 1 && number <= count)
        return &image.entries[number - 1];
    std::string message = path + ": no entry " + std::to_string(number);
    if (count == 0)
        message += "; the image is empty";
    else
        message += count == 1 ? "; its only entry is 1"
                              : "; its entries are 1 to " + std::to_string(count);
    report_tool(tool_failed, message);
    return nullptr;
}

std::string entry_label(const std::string& path, const tape_entry& entry)
{
    return path + ": entry " + std::to_string(entry.entry);
}

std::string damage_label(const std::string& path, const tape_entry& entry)
{
    return entry_label(path, entry) + " is damaged (" + entry.problem + ")";
}

int refuse_missing_data(const std::string& path, const tape_entry& entry)
{
    return report_tool(tool_failed, entry_label(path, entry) + " has no data block");
}

int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count)
{
    if (!output) {
        if (count > 0 && std::fwrite(bytes, 1, count, stdout) != count)
            return report_tool(tool_failed, "standard output: write failed");
        return finish_stdout(tool_ok);
    }
    const std::string& path = *output;
    switch (write_output(path, bytes, count, false).outcome) {
    case write_outcome::written: return tool_ok;
    case write_outcome::open_failed:
        return report_tool(tool_failed, path + ": cannot open for writing");
    case write_outcome::access_failed:
        return report_tool(tool_failed, path +
                                            ": cannot be replaced (a pipe or terminal); redirect "
                                            "standard output instead");
    case write_outcome::write_failed:
    case write_outcome::declined:
    case write_outcome::read_failed: break;
    }
    return report_tool(tool_failed, path + ": write failed; nothing was left behind");
}

const char* kind_name(entry_kind kind)
{
    switch (kind) {
    case entry_kind::file: return "file";
    case entry_kind::headless: return "headless";
    case entry_kind::truncated: break;
    }
    return "truncated";
}
