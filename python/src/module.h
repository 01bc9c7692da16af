// What the files of the module share: the conversions between Python's
// objects and the library's, the errors, the tape and its entries, and the
// function of each file that binds its part of the module.
#pragma once

#include "cassmak/cassmak.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace pybind11::detail {

// An object of a bound class that __init__ never filled (made by
// T.__new__(T)) holds no T: pybind11 would hand its methods memory that it
// allocates there and then and never constructs. Such an object is refused
// before any method sees it.
template <typename T> class filled_caster : public type_caster_base<T> {
  public:
    bool load(handle source, bool convert)
    {
        if (isinstance<T>(source) && !reinterpret_cast<instance*>(source.ptr())
                                          ->get_value_and_holder(get_type_info(typeid(T)))
                                          .holder_constructed())
            throw type_error(std::string(Py_TYPE(source.ptr())->tp_name) +
                             " object was never initialized");
        return type_caster_base<T>::load(source, convert);
    }
};

} // namespace pybind11::detail

namespace cassmak_python {

// ---- Errors (errors.cc) ------------------------------------------------

// A text of the programs' bytes as str, with surrogate escapes for bytes
// that are not UTF-8, as Python gives file names.
py::str text_of(const std::string& bytes);

// A value refused: `words` in Python's terms, `tool_message` the program's.
[[noreturn]] void raise_value(const std::string& words, int status,
                              const std::string& tool_message);

// A file that cannot be read or written at `path`: the OSError of the
// system's error number named in `tool_message`, or FileError with `words`.
[[noreturn]] void raise_file(const std::string& path, int status, const std::string& tool_message,
                             const std::string& words);

// A failure of the library's that no program gives.
[[noreturn]] void raise_failure(int status, const std::string& message);

// MemoryError where memory ran out.
void check_memory(int status, const std::string& message);

// A change's refusal as BadValueError; nothing for done (0) or done over
// damage (1).
void check_change(int status, const std::string& message);

void bind_errors(py::module_& module);

// ---- Conversions (convert.cc) ------------------------------------------

// The bytes of an object with the buffer protocol, copied so that the work
// can go on without the GIL.
std::vector<std::uint8_t> bytes_of(const py::handle& data);

// A text as the programs take it: bytes as they are, a str as its UTF-8.
std::string text_bytes(const py::handle& text);

// A file system path (str or os.PathLike) as the bytes the system gets.
std::string path_bytes(const py::handle& path);

py::bytes bytes_out(const std::vector<std::uint8_t>& data);
py::bytes bytes_out(const std::uint8_t* data, std::size_t size);

// A header field as set takes it: an int as its digits, a text as typed.
std::optional<std::string> field_text(const py::object& value);

// Entry words as rm and copy take them: an int as its digits, a text as typed.
std::vector<std::string> entry_words(const py::args& entries);

// ---- Tapes (tape.cc, digest.cc) ------------------------------------------

using digest = std::array<std::uint8_t, 32>;

// SHA-256 (FIPS 180-4).
digest sha256(const std::uint8_t* data, std::size_t size);

// An image and where its entries begin, shared by a Tape and the entries
// taken from it. An entry is read from its offset when it is asked for, so
// that a tape of many tiny entries takes a few times its bytes, not a few
// hundred bytes an entry.
struct tape_data {
    std::vector<std::uint8_t> bytes;
    cassmak::tape_index index;
    // Whether any entry is damaged: read (every checksum summed) the first
    // time it is asked, under the GIL.
    mutable std::optional<bool> any_damaged;
    std::size_t count() const
    {
        return index.offsets.size();
    }
};

// Whether any entry of `data` is damaged.
bool damaged(const tape_data& data);

// Indexes the entries of `bytes`; called without the GIL.
std::shared_ptr<const tape_data> read_data(std::vector<std::uint8_t>&& bytes);

// The entries `first` to `first + count - 1` (0-based) of a tape.
std::vector<cassmak::entry> entries_of(const tape_data& data, std::size_t first, std::size_t count);

// What a tape read from a file remembers of it, so that a save there can
// tell whether another program changed the file since.
struct file_origin {
    std::string path; // resolved, as resolved_path gives it
    std::size_t size = 0;
    // Without a digest the tape's own bytes are those read. An edit's tape
    // keeps only their digest: the bytes read besides its own would double
    // the memory a large tape takes.
    std::optional<digest> read_digest;
};

struct py_tape {
    std::shared_ptr<const tape_data> data;
    std::string label;                         // how messages name the image
    std::shared_ptr<const file_origin> origin; // null for a tape not read from a file
};

void bind_tape(py::module_& module);

// ---- Entries (entry.cc) ----------------------------------------------------

// A new Entry for `e` of the Tape `tape`, whose bytes hold its payload.
PyObject* new_entry(const py::handle& tape, const cassmak::entry& e);

// The entry at 0-based `index` (entry number index + 1) of the Tape `tape`.
py::object entry_at(const py::handle& tape, std::size_t index);

// An iterator over the entries of the Tape `tape`.
PyObject* new_entry_iterator(const py::handle& tape);

void bind_entries(py::module_& module);

// ---- Making tapes and BASIC (make.cc, basic.cc) ----------------------------

// A line number setting (start, step) for the library: one it cannot take
// becomes one it refuses, whose words setting_as_given puts back as given.
std::uint32_t setting_of(const py::int_& value);
std::string setting_as_given(std::string message, const py::int_& start, const py::int_& step);

void bind_make(py::module_& module);
void bind_basic(py::module_& module);

} // namespace cassmak_python

template <>
class pybind11::detail::type_caster<cassmak_python::py_tape>
    : public filled_caster<cassmak_python::py_tape> {
};
