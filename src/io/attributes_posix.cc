// A new file given the old one's owner, group, permission bits and extended
// attributes (POSIX ACLs among them), so that a rename over the old one keeps
// what others may do with the file.
#include "io/platform.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace cassmak::core {

namespace platform {

namespace {

// The names of the extended attributes of the file open on `fd`, or nothing
// when they cannot be listed. A file system without them has none.
std::optional<std::vector<std::string>> attribute_names(int fd)
{
    std::vector<char> list;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional<std::vector<std::string>>(std::in_place)
                                    : std::nullopt;
        list.resize(static_cast<std::size_t>(size));
        const ssize_t got = flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            std::vector<std::string> names;
            for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
                names.emplace_back(list.data() + at);
                at += names.back().size() + 1;
            }
            return names;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<char>> attribute_value(int fd, const std::string& name)
{
    std::vector<char> value;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

// Gives the new file open on `to` exactly the extended attributes of the old
// one open on `from`, ACLs included: the old file's are set, and any that the
// new file took from its folder (a default ACL) are taken away again.
bool take_extended_attributes(int from, int to)
{
    const std::optional<std::vector<std::string>> old_names = attribute_names(from);
    const std::optional<std::vector<std::string>> new_names = attribute_names(to);
    if (!old_names || !new_names)
        return false;
    for (const std::string& name : *new_names)
        if (std::find(old_names->begin(), old_names->end(), name) == old_names->end() &&
            fremovexattr(to, name.c_str()) != 0)
            return false;
    for (const std::string& name : *old_names) {
        const std::optional<std::vector<char>> value = attribute_value(from, name);
        if (!value || fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0)
            return false;
    }
    return true;
}

} // namespace

bool take_attributes(handle temp, handle old)
{
    const int to = static_cast<int>(temp);
    const int from = static_cast<int>(old);
    struct stat was {};
    struct stat now {};
    if (fstat(from, &was) != 0 || fstat(to, &now) != 0)
        return false;
    if ((now.st_uid != was.st_uid || now.st_gid != was.st_gid) &&
        fchown(to, was.st_uid, was.st_gid) != 0)
        return false;
    if (fchmod(to, was.st_mode & 07777) != 0 || !take_extended_attributes(from, to))
        return false;
    // An ACL sets the group bits as its mask: they must come out as before.
    return fstat(to, &now) == 0 && (now.st_mode & 07777) == (was.st_mode & 07777);
}

} // namespace platform

} // namespace cassmak::core
