// The steps that write_output, write_new and update_output are made of,
// written once over the platform's primitives: where the output lies, the
// start-over loop under the lock, the new file renamed over the old one, the
// rewrite in place, and the system's words for a failure. Portable; included
// by writes.cc and updates.cc only.
#pragma once

#include "io/files.h"
#include "io/platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace cassmak::core {

namespace write_steps {

using platform::handle;

// What a step of a write came to, with the system's fault at the point where
// it failed (not whatever a later clean-up left behind).
struct step {
    write_outcome outcome = write_outcome::written;
    int error = 0;
};

constexpr step written{};

// Whether the program owns its process (hold_signals_over_changes).
bool process_owned();

// The start of the hidden names of the new files made beside `name` (a long
// name is cut, so that they stay within the limit), which end in
// `temp_letters` letters or digits.
std::string temp_stem(const std::string& name);
constexpr std::size_t temp_letters = 6;

// A failed step; a failure without a fault is an input/output error.
step failure(write_outcome outcome, int error);

// The outcome of a call with the system's words for a failure.
write_result with_reason(const step& outcome);

// Syncs a file (or folder) just written, when the change is to be durable.
bool sync_written(handle file, bool durable);

// Closes the file just written, `filled` when the writing went through: the
// fault of the writing or else of the close, or 0.
int close_written(handle file, bool filled);

// Writes all `count` bytes at the file's position.
bool write_all(handle file, const std::uint8_t* bytes, std::size_t count);

// Copies `count` bytes from offset `at` of `from` to the position of `to`,
// which is offset `to_at`, in steps, after each of which the disk starts
// writing them: within the system (sharing the blocks where the file system
// can) where the two offsets agree modulo the page size, else through a
// buffer of the process's own.
bool copy_kept(handle from, std::uint64_t at, std::uint64_t count, handle to,
               std::uint64_t to_at);

// A path as its folder (up to and with the last separator, empty for none)
// and the name after it.
struct path_parts {
    std::string folder;
    std::string name;
};

path_parts split_path(const std::string& path);

// Whether a name cannot be replaced by a rename ("", "." or "..").
bool not_a_name(const std::string& name);

// Where a regular output lies: its folder, open, so that every step after the
// path was resolved names the same folder, and the file's name in it.
class place {
  public:
    place() = default;
    ~place();
    place(const place&) = delete;
    place& operator=(const place&) = delete;

    handle folder = platform::no_handle;
    std::string name;
    bool durable = true; // the change is synced to the disk before it is done
};

enum class found { place, not_a_name, failed };

// Resolves `path` once, through its links, and opens its folder, so that a
// link put in its way meanwhile redirects nothing. not_a_name for a path
// whose last part cannot be replaced by a rename, and for an existing file
// (`exists`) whose name cannot be found by following the links' texts (a
// file reached through /proc that was removed since); failed, with the
// system's fault in `error`, for a folder that cannot be opened.
found find_place(const std::string& path, bool exists, place& where, int& error);

// What an output path names before anything is written to it.
enum class output_kind { regular, absent, other };

// `why` is the system's fault for an output that is not a regular file.
output_kind kind_of(const std::string& path, int& why);

// Finds the place of a regular output at `path` that is `kind`; the outcome
// to give instead (a write where the path lies, or a failure) when there is
// no place to rename at. With `streamed`, a replaced output that cannot be
// positioned (a pipe, a FIFO, a terminal) takes the bytes as they come, in
// the one open, and `*streamed` is set.
std::optional<step> place_of(const std::string& path, output_kind kind, place& where,
                             const std::uint8_t* bytes, std::size_t count, bool append,
                             bool* streamed = nullptr);

// The work on an existing regular file, open on `file` (`readable` when it
// could be opened for reading too) and locked if `have_lock`, whose facts
// under the lock are `locked`: nothing to start over.
using locked_work = std::function<std::optional<step>(
    handle file, bool readable, const platform::file_facts& locked, bool have_lock)>;

// The work when there is no file yet: nothing to start over, because another
// run made it meanwhile.
using create_work = std::function<std::optional<step>()>;

// Runs `work` on the existing regular file at `where` under the lock, or
// `create` when there is none; starts over (a bounded number of times) when
// another run replaced or made the file meanwhile, then fails as an open.
step at_place(const place& where, const locked_work& work, const create_work& create);

// Fills the new file open on `temp`; false (why in last_fault) on a failure.
using fill_work = std::function<bool(handle temp)>;

// Puts a new file in place of the existing regular file open (and locked) on
// `file`: made beside it with its owner, mode and attributes, filled by
// `fill`, and renamed over it once whole. Nothing when the rename would not
// give the same file (an owner or attribute this process cannot give, a
// folder without room or without write permission), and the caller writes in
// place instead; `written_first` then says whether that was found only after
// writing the new file.
std::optional<step> replace_by_rename(handle file, const place& where, const fill_work& fill,
                                      bool& written_first);

// Overwrites the regular file open on `file` at `where` where it lies,
// keeping the part the new image covers to write it back if the new image
// does not go in whole; with `must_keep` a file that cannot be read (and so
// kept) is left alone. Where the program does not own its process, the part
// kept is first written to a copy beside the file, which the next change
// writes back if this one is cut short (over_copy), and a file that cannot
// be kept, or whose copy cannot be made, is left alone.
step rewrite_in_place(handle file, bool readable, const place& where, bool have_lock,
                      const std::uint8_t* bytes, std::size_t count, bool must_keep);

// Whether a change in place is made over a copy of what it overwrites: where
// the program does not own its process, under the lock.
bool over_copy(bool have_lock);

// Makes the output at `where`, which is not there yet, from `count` bytes:
// they go into a temporary file, renamed to the name once whole. With
// `exclusive` (an append, or an update) the name must still be free then, and
// nothing is returned, so that the caller starts over, when another run made
// the file meanwhile.
std::optional<step> create_output(const place& where, const std::uint8_t* bytes, std::size_t count,
                                  bool exclusive);

} // namespace write_steps

} // namespace cassmak::core
