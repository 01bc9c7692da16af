// Making a folder and the missing ones above it, the same on every platform
// over its primitives.
#include "io/files.h"
#include "io/platform.h"
#include "io/write_steps.h"

namespace cassmak::core {

namespace {

// A new folder's name is in its parent only once the parent is synced: 0, or
// why not.
int sync_parent(const std::string& folder)
{
    platform::handle parent = platform::no_handle;
    if (!platform::open_folder(write_steps::split_path(folder).folder, parent))
        return platform::last_fault();
    const int fault = platform::sync_to_disk(parent) ? 0 : platform::last_fault();
    platform::close_handle(parent);
    return fault;
}

} // namespace

bool make_folders(const std::string& path, sync_mode sync, std::string& reason)
{
    std::size_t end = 0;
    while (end < path.size() && is_path_separator(path[end]))
        ++end;
    while (end < path.size()) {
        while (end < path.size() && !is_path_separator(path[end]))
            ++end;
        const std::string part = path.substr(0, end);
        while (end < path.size() && is_path_separator(path[end]))
            ++end;
        int fault = 0;
        switch (platform::make_folder(part)) {
        case platform::folder_made::there: continue;
        case platform::folder_made::made:
            if (sync == sync_mode::fast || (fault = sync_parent(part)) == 0)
                continue;
            break;
        case platform::folder_made::failed: fault = platform::last_fault(); break;
        }
        reason = platform::fault_words(fault);
        return false;
    }
    return true;
}

} // namespace cassmak::core
