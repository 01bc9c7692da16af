#include "io/outcome_words.h"

namespace cassmak::core {

std::string read_failure_message(const std::string& path, const read_result& result,
                                 std::string_view too_large)
{
    switch (result.outcome) {
    case read_outcome::read: return {};
    case read_outcome::open_failed: return path + ": cannot open: " + result.reason;
    case read_outcome::read_failed: return path + ": cannot read: " + result.reason;
    case read_outcome::too_large: break;
    }
    return path + ": " + std::string(too_large);
}

std::string write_failure_message(const std::string& path, const write_result& result,
                                  bool streamed)
{
    switch (result.outcome) {
    case write_outcome::written: return {};
    case write_outcome::open_failed:
    case write_outcome::exists: return path + ": cannot open for writing: " + result.reason;
    case write_outcome::unsynced:
        return path + ": written, but its folder could not be synced to the disk: " + result.reason;
    case write_outcome::access_failed:
    case write_outcome::write_failed:
    case write_outcome::declined:
    case write_outcome::read_failed: break;
    }
    // A file is replaced whole or not at all; what reached a pipe stays there.
    return path + ": cannot write: " + result.reason +
           (streamed ? "" : "; nothing was left behind");
}

std::string update_failure_message(const std::string& path, const write_result& result)
{
    // The new image is in place then: the old one is not "left as it was".
    if (result.outcome == write_outcome::unsynced)
        return path + ": changed, but its folder could not be synced to the disk: " + result.reason;
    return path + ": cannot be updated" + (result.reason.empty() ? "" : ": " + result.reason) +
           "; it is left as it was";
}

} // namespace cassmak::core
