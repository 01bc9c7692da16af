#include "programs/cassmak/files.h"

#include "programs/cassmak/status.h"
#include "io/files.h"

using namespace cassmak::core;

namespace {

// Opens `path` and checks its length against the bounds; leaves the file
// positioned at its start. Returns the length or a reported failure, in which
// case the file is closed again.
int open_checked(const std::string& path, int min_length, int max_length, std::FILE*& file)
{
    file = open_input_file(path);
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
                      std::string& source_out)
{
    std::FILE* file = nullptr;
    int length = open_checked(path, min_length, max_length, file);
    if (length < 0)
        return length;
    source_out.resize(static_cast<std::size_t>(length));
    source_out.resize(std::fread(source_out.data(), 1, source_out.size(), file));
    std::fclose(file);
    return length;
}

int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append)
{
    std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
    switch (write_output(path, bytes, size, append).outcome) {
    case write_outcome::written: return status_ok;
    case write_outcome::open_failed:
    case write_outcome::exists: return report_status(status_output_open, path);
    case write_outcome::access_failed: return report_status(status_output_access, path);
    case write_outcome::write_failed:
    case write_outcome::unsynced:
    case write_outcome::declined:
    case write_outcome::read_failed: break;
    }
    return report_status(status_output_write, path);
}
