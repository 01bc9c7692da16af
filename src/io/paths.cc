#include "io/files.h"

#include <filesystem>
#include <system_error>

path_kind look_at_path(const std::string& path, std::string& reason)
{
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(std::filesystem::u8path(path), error);
    if (error && status.type() != std::filesystem::file_type::not_found) {
        reason = error.message();
        return path_kind::other;
    }
    switch (status.type()) {
    case std::filesystem::file_type::not_found: return path_kind::missing;
    case std::filesystem::file_type::regular: return path_kind::file;
    case std::filesystem::file_type::directory: return path_kind::folder;
    case std::filesystem::file_type::symlink: return path_kind::link;
    default: break;
    }
    return path_kind::other;
}
