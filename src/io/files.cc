#include "io/files.h"

#include "io/status.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Opens `path` and checks its length against the bounds; leaves the file
// positioned at its start. Returns the length or a reported failure, in which
// case the file is closed again.
int open_checked(const std::string& path, int min_length, int max_length, std::FILE*& file)
{
    file = nullptr;
    // A directory opens like a file on Linux, but what seeking and reading it
    // then give depends on the file system; it is simply not an input file.
    std::error_code ignored;
    if (!fs::is_directory(path, ignored))
        file = std::fopen(path.c_str(), "rb");
    if (!file)
        return report_status(status_input_open, path);
    int status = status_ok;
    long length = 0;
    // Both seeks fail alike, and the order of the checks is the point here.
    // NOLINTNEXTLINE(bugprone-branch-clone)
    if (std::fseek(file, 0, SEEK_END) != 0) {
        status = report_status(status_input_access, path);
    } else if ((length = std::ftell(file)) < 0) {
        status = report_status(status_input_length, path);
    } else if (length < min_length || length > max_length) {
        status = report_status(status_input_size, path, min_length, max_length);
    } else if (std::fseek(file, 0, SEEK_SET) != 0) {
        status = report_status(status_input_access, path);
    }
    if (status != status_ok) {
        std::fclose(file);
        file = nullptr;
        return status;
    }
    return static_cast<int>(length);
}

// Undoes a failed write so that no torn image stays behind. Only regular files
// are touched: a device or a pipe is left alone.
void discard_failed_write(const std::string& path, bool append, bool existed,
                          std::optional<std::uintmax_t> old_length)
{
    std::error_code ignored;
    if (!fs::is_regular_file(fs::status(path, ignored)))
        return;
    if (append && existed) {
        // An old length that could not be learned is no length to cut to.
        if (old_length)
            fs::resize_file(path, *old_length, ignored);
    } else if (fs::is_symlink(fs::symlink_status(path, ignored))) {
        // Removing would only drop the link; empty the file it points to.
        fs::resize_file(path, 0, ignored);
    } else {
        fs::remove(path, ignored);
    }
}

} // namespace

int load_input(const std::string& path, std::uint8_t* buffer, int min_length, int max_length)
{
    std::FILE* file = nullptr;
    int length = open_checked(path, min_length, max_length, file);
    if (length < 0)
        return length;
    std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    if (got != static_cast<std::size_t>(length))
        return report_status(status_input_read, path);
    return length;
}

int open_basic_source(const std::string& path, int min_length, int max_length,
                      std::FILE*& handle_out)
{
    return open_checked(path, min_length, max_length, handle_out);
}

write_outcome write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                           bool append)
{
    // Placeholder until the safe replace lands.
    std::FILE* file = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (!file)
        return write_outcome::open_failed;
    bool written = std::fwrite(bytes, 1, count, file) == count;
    written = std::fclose(file) == 0 && written;
    return written ? write_outcome::written : write_outcome::write_failed;
}

int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append)
{
    // Remember what an appended image held, to restore it if the write fails.
    std::error_code error;
    fs::file_status before = fs::status(path, error);
    bool existed = fs::exists(before);
    std::optional<std::uintmax_t> old_length;
    if (append && fs::is_regular_file(before)) {
        std::uintmax_t size = fs::file_size(path, error);
        if (!error)
            old_length = size;
    }

    std::FILE* file = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (!file)
        return report_status(status_output_open, path);
    if (!append && std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return report_status(status_output_access, path);
    }
    std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
    bool written = std::fwrite(bytes, 1, size, file) == size;
    // The library may hold back the last bytes until the flush or the close;
    // a failure there loses data just as surely as a short write.
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written) {
        discard_failed_write(path, append, existed, old_length);
        return report_status(status_output_write, path);
    }
    return status_ok;
}
