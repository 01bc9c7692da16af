// The one seam to the operating system: everything that opens, locks,
// renames or asks about a file or a terminal. Nothing here prints; each
// program words its own failures from the outcomes. The rules are portable
// (reads.cc, folders.cc, write_steps.cc, writes.cc, updates.cc, with their
// limits in write_policy.h) over the primitives of platform.h, whose
// implementation for the platform (the *_posix.cc or *_win32.cc files) the
// build chooses. A change arrives as a plan of pieces (plan/plan.h), so the
// seam knows nothing of the tape format.
#pragma once

#include "plan/plan.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cassmak::core {

// Opens the file at `path` for binary reading, as cassmak reads its input;
// null when it cannot be opened or is a folder (which opens like a file on
// some systems, but then reads as whatever the file system makes of it).
std::FILE* open_input_file(const std::string& path);

enum class read_outcome {
    read,
    open_failed,
    read_failed,
    too_large, // more than the limit: the rest was not read
};

struct read_result {
    read_outcome outcome = read_outcome::read;
    std::string reason; // the system's words for a failed open or read
};

// Reads the whole file at `path` (any kind: a regular file, a pipe, a
// device; `-` is standard input) into `buffer`, which is kept between calls so that reading many
// files allocates once, and sets `size`. More than `limit` bytes fail with
// too_large, so that an endless device ends; a regular file fails so by its
// size, before it is read.
read_result read_whole_file(const std::string& path, std::size_t limit,
                            std::vector<std::uint8_t>& buffer, std::size_t& size);

// A file read piece by piece, so that how much memory reading it takes does
// not depend on its size. `-` is standard input.
struct input_stream {
    std::intptr_t handle = -1; // the system's, closed at the end (for `-` a handle of its own)
    bool open = false;
    bool regular = false;   // a regular file, whose size is known before reading
    std::uint64_t size = 0; // of a regular file
};

read_result open_input_stream(const std::string& path, input_stream& stream);

// Reads up to `room` bytes into `into` and sets `got`; 0 at the end.
read_result read_input_stream(input_stream& stream, std::uint8_t* into, std::size_t room,
                              std::size_t& got);

void close_input_stream(input_stream& stream);

// What became of a write_output or update_output call.
enum class write_outcome {
    written,
    open_failed,   // the output could not be opened (or created)
    access_failed, // a replaced output could not be positioned (a pipe or terminal)
    write_failed,  // fewer bytes than asked could be written, or they could not be
                   // synced to the disk; nothing torn is left, the old image stays
    unsynced,      // the new image is in place, but its folder could not be synced: a
                   // power cut may still bring the old one back
    declined,      // update_output only: the transform refused, the file is untouched
    read_failed,   // update_output only: the old image could not be read
    exists,        // write_new only: the name was taken meanwhile; nothing was written
};

struct write_result {
    write_outcome outcome = write_outcome::written;
    std::string reason; // the system's words for a failure; empty for declined
};

// Whether a change waits until the disk holds it before it is called done.
// durable: a new file's data is synced before it is renamed over the old
// image and its folder after, and a file changed in place is synced before
// the call returns, so that a power cut leaves the old image or the new one
// whole. fast leaves that to the system (a power cut soon after may lose the
// change, or leave an empty file where a new one was renamed).
enum class sync_mode { durable, fast };

// Called first by a program that owns its process (one thread, and the
// signal dispositions and console handlers its own): its changes then hold
// the signals that end a run from outside until the file is whole again, and
// a file it rewrites in place is kept in memory to be written back if the
// writing fails. Without it, as in a library call in a host program, a change
// alters nothing process-wide (no disposition, no handler, no other thread's
// mask) and is made so that the process may end at any instant: a file is
// only ever replaced by a rename, or, where it must be changed in place
// (several names, an owner the rename would not keep), only under the lock
// and after a synced copy of what the change overwrites (`.NAME.rollback`
// beside it) was made, and never where no such copy can be made. Either way
// every change under the lock first clears what a run ended half-way left
// there: it writes such a copy back and removes it, and removes the new
// files (`.NAME.XXXXXX`) whose maker is gone, as their lock tells.
void hold_signals_over_changes();

// Writes `count` bytes to `path`, replacing it or, with `append`, adding to
// its end, so that the output never holds a torn image:
// - the path is resolved once, through its links, to a name in a folder that
//   stays open, and every later step is relative to that folder;
// - a regular file is replaced by renaming a new file over it, which keeps
//   its permission bits, owner, group and extended attributes (ACLs among
//   them); an append renames a new file of the old image (copied within the
//   system, not through the process) and the new bytes over it, under an
//   exclusive lock;
// - where a rename cannot give the same file (several hard links, an owner
//   or attribute the process cannot give, no room or no new file in its
//   folder) it is changed in place: the part of the old image that a rewrite
//   covers is written back if the write fails, and an append is cut back to
//   the length measured under the lock (without a lock, only while the file
//   still ends with this run's bytes);
// - devices, pipes and terminals are written in place; a replaced one must be
//   positionable (access_failed otherwise, before anything is written);
// - a program that owns its process holds the signals that end a run from
//   outside while a regular file is being changed (hold_signals_over_changes);
//   a file size limit fails the write instead of ending the process.
// An output the run may not write fails with open_failed, untouched.
write_result write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                          bool append, sync_mode sync = sync_mode::durable);

// write_output's replace, except that an output that cannot be positioned
// (a pipe, a FIFO, a terminal) takes the bytes as they come, opened once,
// and `streamed` is set, where write_output refuses it.
write_result write_or_stream(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                             sync_mode sync, bool& streamed);

// Writes `count` bytes to a new file at `path`, whose name must be free. The
// name is taken in one step once the file is whole (a new file beside it,
// renamed there only if no file or link holds the name by then), so that a
// file that appeared since the caller looked is refused with exists, never
// replaced, and a link there is never followed. Durable as write_output; a
// failure leaves nothing behind.
write_result write_new(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                       sync_mode sync = sync_mode::durable);

// The old image as a transform sees it: its size and a reader of any part,
// so that an edit reads only what it needs and the bytes it keeps need not
// pass through the process.
struct old_file {
    std::uint64_t size = 0;
    image_bytes_reader read; // false when a read fails: the update fails with the reason
};

// Turns the old image into the new one, given as the pieces it is made of,
// in order. `existed` is false for a file that is not there yet (then the
// old image is empty). Returns false to leave the file as it was; the
// transform reports why itself, unless a read of the old image failed. It
// may be called again, on the image another run made meanwhile; only the
// last call counts.
using image_transform =
    std::function<bool(const old_file& old, bool existed, std::vector<plan_piece>& plan)>;

// Changes the regular file at `path` as a whole: under the exclusive lock
// that an append takes, hands the image to `transform` and replaces the file
// with the pieces it gives as write_output replaces one, the kept spans of
// the old image copied within the system (sharing the blocks where the file
// system can) where they keep their offsets modulo a page, and through a
// buffer of the process's own where they move by any other length, which
// the system copies slowly. So an append running at the same time waits for it and is
// never lost, and a failure or a signal leaves the old image. With `create`
// a missing file is made from the transform's image, through a new file
// renamed into place only if the name is still free; without, a missing file
// is open_failed. Only regular files of at most `largest` bytes can be
// updated (open_failed, and read_failed for a larger one, with the system's
// words for a file too large). Memory the transform cannot have fails the
// update with read_failed, the file left as it was.
write_result update_output(const std::string& path, bool create, std::uint64_t largest,
                           const image_transform& transform, sync_mode sync = sync_mode::durable);

enum class console_stream { input, output, error };

// Whether the stream is a terminal, where raw bytes are not welcome.
bool is_terminal(console_stream stream);

// ---- The process's own command line and standard streams ----
// Kept apart from the file operations above; on POSIX both are what the
// process was given (process_posix.cc), on Windows they are made so.

// Replaces `argc` and `argv` with the command line as UTF-8 words, so that a
// path such as café.kst reaches the program as typed. Where the system's
// shells leave patterns to the program (Windows), an unquoted word with `*`
// or `?` in its last part becomes the names it matches, sorted, and stays as
// typed where it matches none. The words live until the process ends.
void take_program_arguments(int& argc, char**& argv);

// The separator between a folder and a name in the paths this system's
// users type and read, and whether `c` is one (Windows takes `/` too).
char path_separator();
bool is_path_separator(char c);

// Sets standard input, output and error to pass bytes unchanged, so that a
// newline is written as one byte and a payload on standard output is exact.
void use_binary_streams();

// ---- What a path names, for a command that must not overwrite ----
// A name is looked at itself, a link not followed.

enum class path_kind { missing, file, folder, link, other };

// What `path` names now; `reason` gets the system's words when it cannot be
// looked at (other then).
path_kind look_at_path(const std::string& path, std::string& reason);

// Whether two paths name one existing file or folder now, links followed;
// false when either cannot be looked at or is neither.
bool names_same_file(const std::string& a, const std::string& b);

// Makes the folder `path` and every missing folder above it, as `mkdir -p`
// does; durable, each new folder's name is synced into its parent, so that
// files synced into it later are found there after a power cut. False, with
// the system's words in `reason`, when one cannot be made or a part of the
// path is not a folder.
bool make_folders(const std::string& path, sync_mode sync, std::string& reason);

} // namespace cassmak::core
