#include "cli/tool_commands.h"

#include "basic/detokenizer.h"
#include "cli/tool_report.h"
#include "io/files.h"
#include "tape/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using byte_buffer = std::vector<std::uint8_t>;

// The largest image read. No tape image comes near it; it stops a device such
// as /dev/zero from eating the memory.
constexpr std::size_t image_limit = (std::size_t{1} << 30) - 1;

int load_image(const std::string& path, byte_buffer& buffer, std::size_t& size)
{
    return load_file(path, image_limit, "larger than 1 GiB, not a tape image", buffer, size);
}

} // namespace

int load_file(const std::string& path, std::size_t limit, std::string_view too_large,
              std::vector<std::uint8_t>& buffer, std::size_t& size)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return report_tool(tool_failed, path + ": cannot open: " + std::strerror(errno));
    // A regular file is read with one read into a buffer one byte larger than
    // the file, the second read confirming its end.
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= limit &&
        buffer.size() <= static_cast<std::size_t>(info.st_size))
        buffer.resize(static_cast<std::size_t>(info.st_size) + 1);
    if (buffer.size() < 65536)
        buffer.resize(65536);
    size = 0;
    for (;;) {
        if (size > limit) {
            close(fd);
            return report_tool(tool_failed, path + ": " + std::string(too_large));
        }
        if (size == buffer.size())
            buffer.resize(std::min(size * 2, limit + 1));
        const ssize_t got = read(fd, buffer.data() + size, buffer.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            close(fd);
            return report_tool(tool_failed, path + ": cannot read: " + std::strerror(error));
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    close(fd);
    return tool_ok;
}

// Standard output is written through stdio; a failure shows at the flush.
int finish_stdout(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return report_tool(tool_failed, "standard output: write failed");
    return status;
}

namespace {

int write_bytes(const std::optional<std::string>& output, const std::uint8_t* bytes,
                std::size_t count)
{
    if (!output) {
        if (count > 0 && std::fwrite(bytes, 1, count, stdout) != count)
            return report_tool(tool_failed, "standard output: write failed");
        return finish_stdout(tool_ok);
    }
    const std::string& path = *output;
    switch (write_output(path, bytes, count, false)) {
    case write_outcome::written: return tool_ok;
    case write_outcome::open_failed:
        return report_tool(tool_failed, path + ": cannot open for writing");
    case write_outcome::access_failed:
        return report_tool(tool_failed, path +
                                            ": cannot be replaced (a pipe or terminal); redirect "
                                            "standard output instead");
    case write_outcome::write_failed: break;
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

// ---- list, as a table ----

void append_number(std::string& out, std::size_t value)
{
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%zu", value);
    out.append(digits, static_cast<std::size_t>(length));
}

// Quotes stored bytes for the table, escaping what a terminal would not show.
std::string quoted(const std::uint8_t* bytes, std::size_t count, char quote)
{
    std::string out(1, quote);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == static_cast<std::uint8_t>(quote) || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        }
    }
    out += quote;
    return out;
}

const char* checksum_state(const tape_entry& entry)
{
    if (entry.kind != entry_kind::file)
        return "-";
    const bool header = entry.header_checksum_good;
    switch (entry.data_checksum) {
    case data_checksum_state::good: return header ? "good" : "header bad";
    case data_checksum_state::bad: return header ? "data bad" : "both bad";
    case data_checksum_state::absent: break;
    }
    return header ? "no data" : "header bad, no data";
}

// The columns of append_row, each as wide as its field.
const char* const table_heading =
    "entry   offset  kind       no  type   addr    length  name          checksums\n";

void append_row(std::string& out, const tape_entry& entry)
{
    char row[160];
    if (entry.kind == entry_kind::file) {
        std::snprintf(row, sizeof row, "%5zu %8zu  %-9s %3u  %-6s 0x%04X %7zu  %-12s  %s",
                      entry.entry, entry.offset, "file", entry.number,
                      quoted(&entry.type, 1, '\'').c_str(), entry.address, entry.length,
                      quoted(entry.name.data(), entry.name.size(), '"').c_str(),
                      checksum_state(entry));
    } else {
        std::snprintf(row, sizeof row, "%5zu %8zu  %-9s %3s  %-6s %-6s %7zu  %-12s  %s",
                      entry.entry, entry.offset, kind_name(entry.kind), "-", "-", "-", entry.length,
                      "-", "-");
    }
    out += row;
    if (entry_damaged(entry)) {
        out += "  ";
        out += entry.problem;
    }
    out += '\n';
}

void append_count(std::string& out, std::size_t count, const char* one, const char* many)
{
    append_number(out, count);
    out += ' ';
    out += count == 1 ? one : many;
}

void append_summary(std::string& out, const std::vector<tape_entry>& entries)
{
    if (entries.empty()) {
        out += "empty image, nothing stored\n";
        return;
    }
    std::size_t counts[3] = {0, 0, 0};
    std::vector<std::size_t> damaged;
    for (const tape_entry& entry : entries) {
        ++counts[static_cast<int>(entry.kind)];
        if (entry_damaged(entry))
            damaged.push_back(entry.entry);
    }
    append_count(out, counts[0], "file", "files");
    out += ", ";
    append_count(out, counts[1], "headless block", "headless blocks");
    if (counts[2] > 0) {
        out += ", ";
        append_count(out, counts[2], "truncated tail", "truncated tails");
    }
    if (damaged.empty()) {
        out += ", all checksums good\n";
        return;
    }
    out += "; damaged: ";
    out += damaged.size() == 1 ? "entry " : "entries ";
    constexpr std::size_t shown = 10;
    for (std::size_t i = 0; i < damaged.size() && i < shown; ++i) {
        if (i > 0)
            out += ", ";
        append_number(out, damaged[i]);
    }
    if (damaged.size() > shown)
        out += ", ...";
    out += '\n';
}

void append_table(std::string& out, const std::string& path, std::size_t size,
                  const std::vector<tape_entry>& entries)
{
    out += path;
    out += ": ";
    append_count(out, size, "byte", "bytes");
    out += '\n';
    if (!entries.empty())
        out += table_heading;
    for (const tape_entry& entry : entries)
        append_row(out, entry);
    append_summary(out, entries);
}

// ---- list, as JSON Lines ----

// Each byte becomes the code point of the same value.
void append_json_string(std::string& out, const std::uint8_t* bytes, std::size_t count)
{
    out += '"';
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x80) {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte >= 0x20) {
            out += static_cast<char>(byte);
        } else {
            static const char short_escapes[] = "btn\0fr";
            if (byte >= '\b' && byte <= '\r' && byte != 0x0B) {
                out += '\\';
                out += short_escapes[byte - '\b'];
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            }
        }
    }
    out += '"';
}

void append_json_string(std::string& out, const std::string& text)
{
    append_json_string(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void append_json(std::string& out, const std::string& path, const tape_entry& entry)
{
    out += "{\"image\":";
    append_json_string(out, path);
    out += ",\"entry\":";
    append_number(out, entry.entry);
    out += ",\"offset\":";
    append_number(out, entry.offset);
    out += ",\"kind\":\"";
    out += kind_name(entry.kind);
    out += "\",\"length\":";
    append_number(out, entry.length);
    if (entry.kind == entry_kind::file) {
        out += ",\"number\":";
        append_number(out, entry.number);
        out += ",\"type\":";
        append_json_string(out, &entry.type, 1);
        out += ",\"address\":";
        append_number(out, entry.address);
        out += ",\"name\":";
        append_json_string(out, entry.name.data(), entry.name.size());
        out += ",\"header_checksum\":";
        out += entry.header_checksum_good ? "true" : "false";
        out += ",\"data_checksum\":";
        out += entry.data_checksum == data_checksum_state::absent ? "null"
               : entry.data_checksum == data_checksum_state::good ? "true"
                                                                  : "false";
    }
    out += ",\"problem\":";
    if (entry_damaged(entry))
        append_json_string(out, entry.problem);
    else
        out += "null";
    out += "}\n";
}

// ---- extract and basic ----

struct loaded_image {
    byte_buffer bytes;
    std::size_t size = 0;
    std::vector<tape_entry> entries;
};

int load_entries(const std::string& path, loaded_image& image)
{
    const int status = load_image(path, image.bytes, image.size);
    if (status == tool_ok)
        image.entries = read_tape_image(image.bytes.data(), image.size);
    return status;
}

// The entry numbered `number`, or a report that the image has none such.
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

// A file without a data block has no bytes to give back, forced or not.
int refuse_missing_data(const std::string& path, const tape_entry& entry)
{
    return report_tool(tool_failed, entry_label(path, entry) + " has no data block");
}

} // namespace

int run_list(const std::vector<std::string>& images, bool json)
{
    int status = tool_ok;
    byte_buffer buffer;
    std::string out;
    bool first = true;
    for (const std::string& path : images) {
        std::size_t size = 0;
        if (load_image(path, buffer, size) != tool_ok) {
            status = tool_failed;
            continue;
        }
        const std::vector<tape_entry> entries = read_tape_image(buffer.data(), size);
        out.clear();
        if (!json && !first)
            out += '\n';
        first = false;
        if (json) {
            for (const tape_entry& entry : entries)
                append_json(out, path, entry);
        } else {
            append_table(out, path, size, entries);
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (status == tool_ok && std::any_of(entries.begin(), entries.end(), entry_damaged))
            status = tool_damaged;
    }
    return finish_stdout(status);
}

int run_extract(const std::string& image_path, std::size_t number,
                const std::optional<std::string>& output, bool force)
{
    loaded_image image;
    if (load_entries(image_path, image) != tool_ok)
        return tool_failed;
    const tape_entry* entry = find_entry(image_path, image, number);
    if (!entry)
        return tool_failed;
    if (entry->kind == entry_kind::file && entry->data_checksum == data_checksum_state::absent)
        return refuse_missing_data(image_path, *entry);
    const bool damaged = entry_damaged(*entry);
    if (damaged && !force)
        return report_tool(tool_failed,
                           damage_label(image_path, *entry) + "; --force extracts it anyway");
    if (!output && isatty(STDOUT_FILENO))
        return report_tool(tool_failed, "standard output is a terminal; give -o FILE or "
                                        "redirect it");
    const int status =
        write_bytes(output, image.bytes.data() + entry->payload_offset, entry->payload_size);
    if (status != tool_ok || !damaged)
        return status;
    return report_tool(tool_damaged, damage_label(image_path, *entry) + "; written as it is");
}

int run_basic(const std::string& image_path, std::optional<std::size_t> number,
              const std::optional<std::string>& output)
{
    loaded_image image;
    if (load_entries(image_path, image) != tool_ok)
        return tool_failed;
    const tape_entry* entry = nullptr;
    if (number) {
        entry = find_entry(image_path, image, *number);
        if (!entry)
            return tool_failed;
        if (entry->kind != entry_kind::file)
            return report_tool(tool_failed,
                               entry_label(image_path, *entry) + " is " +
                                   (entry->kind == entry_kind::headless ? "a headless block"
                                                                        : "a truncated tail") +
                                   ", not a file");
    } else {
        const auto found =
            std::find_if(image.entries.begin(), image.entries.end(), [](const tape_entry& e) {
                return e.kind == entry_kind::file && e.type == '>';
            });
        if (found == image.entries.end())
            return report_tool(tool_failed,
                               image_path + ": no BASIC program in it (no file of type '>')");
        entry = &*found;
    }
    if (entry->data_checksum == data_checksum_state::absent)
        return refuse_missing_data(image_path, *entry);

    const basic_listing listing =
        list_basic_program(image.bytes.data() + entry->payload_offset, entry->payload_size);
    const int status = write_bytes(
        output, reinterpret_cast<const std::uint8_t*>(listing.text.data()), listing.text.size());
    if (status != tool_ok)
        return status;
    int result = tool_ok;
    if (entry_damaged(*entry))
        result = report_tool(tool_damaged, damage_label(image_path, *entry));
    for (const std::string& warning : listing.warnings)
        result = report_tool(tool_damaged, entry_label(image_path, *entry) + ": " + warning);
    return result;
}
