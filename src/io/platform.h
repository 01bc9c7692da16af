// The primitives each platform's seam gives to the portable rules of
// src/io/: each platform implements these over its own system calls, and the
// rules, which decide what `-` is, how far a read goes, whether a file is
// replaced by a rename, rewritten in place or appended to, how often a change
// starts over and what its failures are called, are written once over them
// (reads.cc, write_steps.cc, writes.cc, updates.cc).
#pragma once

#include "io/files.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cassmak::core {

namespace platform {

// ---- Reading a whole file (reads.cc) ----

// A file open for reading, as the system's handle of it.
struct reading {
    std::intptr_t handle = -1;
    bool open = false;
};

// Opens `path` for reading; `-` is standard input, through a handle of its
// own that close_reading closes and the process's own stays open. A failure
// is open_failed, or read_failed for a folder, with the system's words.
read_result open_reading(const std::string& path, reading& file);

// The size of the file when it is a regular one, whose size is known before
// it is read; false for a pipe, a device or a terminal.
bool regular_size(const reading& file, std::uint64_t& size);

// Reads up to `room` bytes into `into` and sets `got`; 0 at the end, which a
// pipe whose writer closed it has reached too. An interrupted read goes on.
read_result read_some(const reading& file, std::uint8_t* into, std::size_t room, std::size_t& got);

void close_reading(reading& file);

// ---- Changing a file (write_steps.cc, writes.cc, updates.cc) ----
// Every primitive that can fail returns false (or says so in its answer) and
// leaves why for last_fault; an interrupted call goes on by itself.

// A file or a folder open, as the system's handle of it.
using handle = std::intptr_t;
constexpr handle no_handle = -1;

// Why the last primitive failed, in errno's values (a platform whose system
// counts otherwise translates); kept until the next failure.
int last_fault();

// The system's words for `fault`.
std::string fault_words(int fault);

// Whether `fault` says that the disk, or the user's share of it, is full.
bool out_of_room(int fault);

// -- Where a file is (places_*.cc) --

// Follows `path` through its symbolic links to the name that holds the file,
// or will hold it for a link to a file that is not there yet.
std::string final_name(const std::string& path);

// What `path` names, links followed; failed (why in last_fault) when it
// cannot be asked, and missing only when nothing is there.
enum class path_state { regular, folder, other, missing, failed };
path_state state_of(const std::string& path);

// Opens the folder `folder` (empty for the current one), so that later steps
// name the same folder whatever its path comes to name.
bool open_folder(const std::string& folder, handle& opened);

// Whether nothing at all holds `name` in the open `folder` now, a link
// counted as what holds it; false too when that cannot be told.
bool name_missing(handle folder, const std::string& name);

// The facts about an open file that the rules go by.
struct file_facts {
    std::uint64_t size = 0;
    std::uint64_t links = 1; // the names the file has
    bool regular = false;
    // Which file it is: its volume and its number there, the same for every
    // name and handle of it.
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

bool facts_of(handle file, file_facts& facts);

// Whether `name` in `folder` still names the open `file`, whose facts are
// then in `facts`; a link there is looked at itself.
bool still_named(handle file, handle folder, const std::string& name, file_facts& facts);

// The names in the open `folder` that begin with `prefix`; false (why in
// last_fault) when the folder cannot be read.
bool names_beginning(handle folder, const std::string& prefix, std::vector<std::string>& names);

// -- New names (names_*.cc) --

// Who may use a new file: its owner alone (a temporary file, given the old
// one's owner and permissions next), or everyone the system's defaults let.
enum class new_file_access { owner_only, everyone };

// Creates the file `name` in `folder` for writing, only if no file or link
// holds the name (last_fault says EEXIST then), never through a link.
bool create_new_at(handle folder, const std::string& name, new_file_access access, handle& file);

// Takes the name `name` in `folder` away; a failure is not reported.
void remove_at(handle folder, const std::string& name);

// Renames `from` to `to` in `folder`, replacing what `to` holds: renamed,
// refused (why in last_fault), or refused for good, where the file at `to`
// itself refuses to be replaced (a read-only file, one another program holds
// without sharing its deletion), and so must not be changed in place either.
enum class replacing_rename { renamed, refused, refused_for_good };
replacing_rename rename_over(handle folder, const std::string& from, const std::string& to);

// Renames `from` to `to` in `folder` only if `to` is free: renamed, taken
// (the name is held; `from` stays), or refused (why in last_fault).
enum class exclusive_rename { renamed, taken, refused };
exclusive_rename rename_exclusive(handle folder, const std::string& from, const std::string& to);

// Makes the folder `path`: made, there (a folder, or a drive, held the name
// already), or failed (why in last_fault, ENOTDIR where something else
// holds the name).
enum class folder_made { made, there, failed };
folder_made make_folder(const std::string& path);

// A number unlike the one another run or an earlier call got, to draw
// temporary names from.
std::uint64_t name_seed();

// -- Open files (descriptors_*.cc) --

// Opens the file `name` in `folder` to change it, never through a link (a
// link there fails, last_fault ELOOP) and without waiting for a pipe's
// reader. A file the run may write but not read is opened for writing
// alone, and `readable` says which.
bool open_at(handle folder, const std::string& name, handle& file, bool& readable);

// Opens `path` for writing as a plain open does, links followed and a
// missing file made: from its start (cut to nothing), or with `append` at
// its end for every write.
bool open_for_writing(const std::string& path, bool append, handle& file);

// Puts the position of `file` at its start; false for a pipe or terminal.
bool seek_start(handle file);

// The position of `file`.
bool position_of(handle file, std::uint64_t& at);

// Makes every later write of `file` go to its end, wherever that is by then.
bool append_from_now(handle file);

// Offset for write_at: at the file's position, which moves on.
constexpr std::int64_t at_position = -1;

// Writes all `count` bytes from offset `at` (or at the position); a short
// write goes on where it stopped. `done` counts what went in.
bool write_at(handle file, const std::uint8_t* bytes, std::size_t count, std::int64_t at,
              std::size_t& done);

// Reads exactly `count` bytes from offset `at`; a file that ends before
// fails (last_fault EIO).
bool read_at(handle file, std::uint8_t* into, std::size_t count, std::uint64_t at);

// Cuts or grows `file` to `size` bytes.
bool truncate_to(handle file, std::uint64_t size);

// Copies `count` bytes from offset `at` of `from` to the position of `to`,
// within the system where it can (sharing the blocks where the file system
// can), else through a small buffer.
bool copy_range(handle from, std::uint64_t at, std::uint64_t count, handle to);

// The size of the system's memory pages, in which the file systems' caches
// are kept.
std::size_t page_size();

// Whether copy_range into `file` is as fast where the offsets disagree
// modulo the page size as where they agree: a file system kept in memory
// (tmpfs) copies either way page by page, one that writes to a disk (ext4)
// at a fraction of the speed.
bool copies_unaligned_fast(handle file);

// Waits until the disk holds what was written to the file or folder; a
// pipe, terminal or device that keeps nothing has nothing to sync.
bool sync_to_disk(handle file);

// Starts the disk writing what was written to `file` so far, without
// waiting, so that a sync to come finds less left to write. Only a hint:
// nothing fails, and a system without such a call does nothing.
void start_writing(handle file);

// Closes a file or folder; false when the close reports a failure of the
// writing before it.
bool close_handle(handle file);

// -- Locks (locks_*.cc) --

// Waits for the exclusive lock that every writing run takes on a regular
// output; an interrupt still ends a run that waits here. False where the
// file system offers no locks.
bool lock_file(handle file);

// Locks the file just made on `file` for as long as the handle `keeper`,
// another handle of the same open file, stays open, so that `file` itself
// can be closed (and its close's failure seen) before the file is renamed.
// False, with no keeper, where the file system offers no such lock.
bool lock_new_file(handle file, handle& keeper);

// Whether the run that made the file open on `file` and locked it by
// lock_new_file is gone: its lock is free (and now taken by this handle
// until it is closed). False while that run lives, and where it cannot be
// told.
bool maker_gone(handle file);

// -- Attributes (attributes_*.cc) --

// Gives the new file `temp` the owner, group, permissions and extended
// attributes (ACLs among them) of `old`; false when this process may not
// give them all, so that a rename would widen or narrow what others may do.
bool take_attributes(handle temp, handle old);

// -- Signals (signals_*.cc) --

// The signals that end a run from outside (an interrupt, a kill, a closed
// terminal or pipe, a timer), held over a step that must finish once begun:
// they take effect when it is released. Not nested. Only for a program that
// owns its process (`whole_process`): the hold is process-wide on some
// systems (Windows' console handlers), and in a process with other threads
// a thread's own hold stops nothing. Otherwise nothing is held.
class signals_held {
  public:
    explicit signals_held(bool whole_process);
    ~signals_held();
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

  private:
    alignas(16) unsigned char previous_[256]{}; // the mask before, as the system keeps it
    bool held_ = false;
};

// Keeps a file size limit from ending the process half-way through a write:
// the write fails instead, and the failure is undone. Only the calling
// thread's state changes, and it is as it was afterwards: no disposition of
// the process is touched, so that calls in several threads at once leave
// the host's as they found them.
class size_limit_fails_writes {
  public:
    size_limit_fails_writes();
    ~size_limit_fails_writes();
    size_limit_fails_writes(const size_limit_fails_writes&) = delete;
    size_limit_fails_writes& operator=(const size_limit_fails_writes&) = delete;

  private:
    alignas(16) unsigned char previous_[256]{}; // the thread's mask before
    bool pending_before_ = false;               // a limit's signal was already waiting
    bool changed_ = false;
};

} // namespace platform

} // namespace cassmak::core
