// Whole-file input and output. Every failure is reported here, where it is
// detected, and the status is returned for the caller to pass up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Reads the whole file at `path` into `buffer` (room for `max_length` bytes)
// and returns its length, which must lie in [min_length, max_length].
int load_input(const std::string& path, std::uint8_t* buffer, int min_length, int max_length);

// Checks the file at `path` as load_input does, without reading it. On success
// the file is left open at its start in `handle_out` (the caller closes it) and
// its length is returned; on failure nothing is handed over.
int open_basic_source(const std::string& path, int min_length, int max_length,
                      std::FILE*& handle_out);

// What became of a write_output call; nothing is reported by it, so that each
// program words its own failures.
enum class write_outcome {
    written,
    open_failed,   // the output could not be opened (or created)
    access_failed, // a replaced output could not be positioned (a pipe or terminal)
    write_failed,  // fewer bytes than asked could be written; nothing torn is left
};

// Writes `count` bytes to `path`, replacing it or, with `append`, adding to
// its end, so that the output never holds a torn image:
// - a regular file is replaced by renaming a new file over it (its final
//   target, for a link), which keeps its permission bits, owner and group;
//   where that cannot give the same file (several hard links, an owner the
//   process cannot give, no room or no new file in its folder) it is rewritten
//   in place and its old contents are written back if the write fails;
// - an append is one write under an exclusive flock, cut back on failure to
//   the length measured under the lock (a file the run created goes again);
// - devices, pipes and terminals are written in place; a replaced one must be
//   positionable (access_failed otherwise, before anything is written);
// - SIGINT, SIGTERM and SIGHUP are held while a regular file is being
//   changed, and SIGXFSZ is ignored so that a size limit fails the write.
// An output the run may not write fails with open_failed, untouched.
write_outcome write_output(const std::string& path, const std::uint8_t* bytes, std::size_t count,
                           bool append);

// write_output for cassmak: reports a failure as status -9, -10 or -11 and
// returns it, or returns 0.
int save_output(const std::string& path, const std::uint8_t* bytes, int count, bool append);
