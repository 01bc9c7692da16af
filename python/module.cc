// The Python module: the library's calls with Python's types. Bytes stay
// bytes; every failure becomes a cassmak.Error that carries the message and
// the exit status the programs give for it; the long calls let other Python
// threads run while they work.
#include "cassmak/cassmak.h"

#include <pybind11/operators.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
// After Python.h, which pybind11 includes.
#include <structmember.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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

namespace {

// ---- Errors ------------------------------------------------------------

// cassmak.Error and its subclasses: FileError (also OSError) with one for
// each file error a caller tells apart, and BadValueError (also
// ValueError).
PyObject* error_type = nullptr;
PyObject* file_error_type = nullptr;
PyObject* missing_file_type = nullptr;
PyObject* file_access_type = nullptr;
PyObject* folder_given_type = nullptr;
PyObject* bad_value_type = nullptr;

// Texts are the programs' bytes; a path or a name that is not UTF-8 comes
// back with the surrogate escapes Python itself uses for such file names.
py::str text_of(const std::string& bytes)
{
    PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                          "surrogateescape");
    if (!text)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

// Raises `error` (made of `type`) with the program's status and message.
[[noreturn]] void raise_with(PyObject* type, py::object error, int status,
                             const std::string& tool_message)
{
    error.attr("status") = status;
    error.attr("tool_message") = text_of(tool_message);
    error.attr("message") = text_of(tool_message);
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

// A refused value: `words` say it in Python's terms (the parameter, not the
// option), `tool_message` as the program does.
[[noreturn]] void raise_value(const std::string& words, int status, const std::string& tool_message)
{
    py::object error = py::reinterpret_borrow<py::object>(bad_value_type)(text_of(words));
    raise_with(bad_value_type, std::move(error), status, tool_message);
}

// The system's error number whose words the programs give in `message` for
// a file's failure, as strerror gives them, after ": " and before the end
// or "; ...": 0 for none.
int error_number_of(const std::string& message)
{
    static std::vector<std::pair<int, std::string>> words;
    if (words.empty()) {
        const py::module_ os = py::module_::import("os");
        for (const py::handle code : py::module_::import("errno").attr("errorcode")) {
            const int number = code.cast<int>();
            words.emplace_back(number, os.attr("strerror")(number).cast<std::string>());
        }
    }
    for (const auto& [number, text] : words) {
        const std::string reason = ": " + text;
        for (std::size_t at = message.find(reason); at != std::string::npos;
             at = message.find(reason, at + 1)) {
            const std::size_t end = at + reason.size();
            if (end == message.size() || message[end] == ';')
                return number;
        }
    }
    return 0;
}

// A file that cannot be read or written: the OSError the system's error
// number makes, as Python's own calls raise it ("[Errno 2] No such file or
// directory: 'tape.kst'"), or FileError with `words` where no number is
// behind it.
[[noreturn]] void raise_file(const std::string& path, int status, const std::string& tool_message,
                             const std::string& words)
{
    const int number = error_number_of(tool_message);
    if (number == 0) {
        py::object error = py::reinterpret_borrow<py::object>(file_error_type)(text_of(words));
        raise_with(file_error_type, std::move(error), status, tool_message);
    }
    const py::module_ codes = py::module_::import("errno");
    PyObject* type = file_error_type;
    if (number == codes.attr("ENOENT").cast<int>())
        type = missing_file_type;
    else if (number == codes.attr("EACCES").cast<int>() ||
             number == codes.attr("EPERM").cast<int>())
        type = file_access_type;
    else if (number == codes.attr("EISDIR").cast<int>())
        type = folder_given_type;
    py::object error = py::reinterpret_borrow<py::object>(type)(
        number, py::module_::import("os").attr("strerror")(number), text_of(path));
    raise_with(type, std::move(error), status, tool_message);
}

// Any other failure of the library's, which the programs never meet.
[[noreturn]] void raise_failure(int status, const std::string& message)
{
    py::object error = py::reinterpret_borrow<py::object>(error_type)(text_of(message));
    raise_with(error_type, std::move(error), status, message);
}

// The library's own failure, which no tool gives: memory ran out.
void check_memory(int status, const std::string& message)
{
    if (status == cassmak::out_of_memory || (status != 0 && message == "out of memory"))
        throw std::bad_alloc();
}

// A refusal of casstool's changing commands in Python's words: the
// switches it names are the parameters here.
std::string python_words(std::string message)
{
    const std::pair<const char*, const char*> switches[] = {
        {"--name, --number, --type or --address", "name, number, type or address"},
        {"--force", "force=True"},
    };
    for (const auto& [option, parameter] : switches)
        for (std::size_t at = message.find(option); at != std::string::npos;
             at = message.find(option, at + 1))
            message.replace(at, std::strlen(option), parameter);
    return message;
}

// A change's status and message: nothing for success or for done over
// damage (casstool's 1), BadValueError for a refusal.
void check_change(int status, const std::string& message)
{
    check_memory(status, message);
    if (status != 0 && status != 1)
        raise_value(python_words(message), status, message);
}

// ---- Bytes in ----------------------------------------------------------

// The bytes of any object with the buffer protocol (bytes, bytearray, a
// contiguous memoryview, ...), copied so that the work can go on without the
// GIL.
std::vector<std::uint8_t> bytes_of(const py::handle& data)
{
    Py_buffer view;
    if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0)
        throw py::error_already_set();
    const auto* at = static_cast<const std::uint8_t*>(view.buf);
    std::vector<std::uint8_t> bytes(at, at + view.len);
    PyBuffer_Release(&view);
    return bytes;
}

// A text as the programs take it: bytes as they are, a str as its UTF-8
// bytes (surrogate escapes giving back the bytes they stand for).
std::string text_bytes(const py::handle& text)
{
    if (PyUnicode_Check(text.ptr())) {
        PyObject* encoded = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
        if (!encoded)
            throw py::error_already_set();
        return py::reinterpret_steal<py::bytes>(encoded);
    }
    const std::vector<std::uint8_t> bytes = bytes_of(text);
    return std::string(bytes.begin(), bytes.end());
}

// A file system path (str or os.PathLike) as the bytes the system gets.
std::string path_bytes(const py::handle& path)
{
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path.ptr(), &encoded))
        throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(encoded);
}

py::bytes bytes_out(const std::vector<std::uint8_t>& data)
{
    return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
}

py::bytes bytes_out(const std::uint8_t* data, std::size_t size)
{
    return py::bytes(reinterpret_cast<const char*>(data), size);
}

// A header field as set takes it after --number or --address: an int as its
// decimal digits, a text as typed.
std::optional<std::string> field_text(const py::object& value)
{
    if (value.is_none())
        return std::nullopt;
    if (PyLong_Check(value.ptr()))
        return std::string(py::str(value));
    return text_bytes(value);
}

// An entry word as rm and copy take it: an int as its digits, a text as typed.
std::vector<std::string> entry_words(const py::args& entries)
{
    std::vector<std::string> words;
    for (const py::handle& entry : entries)
        words.push_back(PyLong_Check(entry.ptr()) ? std::string(py::str(entry))
                                                  : text_bytes(entry));
    return words;
}

// ---- Tapes -------------------------------------------------------------

// An image and where its entries begin, shared by a Tape and the entries
// taken from it. An entry is read from its offset when it is asked for, so
// that a tape of many tiny entries takes a few times its bytes, not a few
// hundred bytes an entry.
struct tape_data {
    std::vector<std::uint8_t> bytes;
    cassmak::tape_index index;
    std::size_t count() const
    {
        return index.offsets.size();
    }
    bool damaged() const
    {
        return index.status == 1;
    }
};

// Indexes the entries of `bytes`; called without the GIL.
std::shared_ptr<const tape_data> read_data(std::vector<std::uint8_t>&& bytes)
{
    auto data = std::make_shared<tape_data>();
    data->bytes = std::move(bytes);
    data->index = cassmak::index_tape(data->bytes.data(), data->bytes.size());
    return data;
}

// The entries `first` to `first + count - 1` (0-based) of a tape.
std::vector<cassmak::entry> entries_of(const tape_data& data, std::size_t first, std::size_t count)
{
    cassmak::tape_contents contents =
        cassmak::read_entries(data.bytes.data(), data.bytes.size(), data.index, first, count);
    check_memory(contents.status, contents.message);
    return std::move(contents.entries);
}

using digest = std::array<std::uint8_t, 32>;

// SHA-256 (FIPS 180-4), so that a tape edited from a file need not keep the
// bytes it was read from to tell whether the file still holds them.
digest sha256(const std::uint8_t* data, std::size_t size)
{
    static const std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    const auto block = [&](const std::uint8_t* at) {
        std::uint32_t w[64];
        for (std::size_t i = 0; i < 16; ++i)
            w[i] = std::uint32_t{at[4 * i]} << 24 | std::uint32_t{at[4 * i + 1]} << 16 |
                   std::uint32_t{at[4 * i + 2]} << 8 | at[4 * i + 3];
        for (std::size_t i = 16; i < 64; ++i)
            w[i] = w[i - 16] + (rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) +
                   w[i - 7] + (rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6],
                      x = h[7];
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                x + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 =
                (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            x = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::uint32_t sums[8] = {a, b, c, d, e, f, g, x};
        for (std::size_t i = 0; i < 8; ++i)
            h[i] += sums[i];
    };
    const std::size_t whole = size / 64 * 64;
    for (std::size_t at = 0; at < whole; at += 64)
        block(data + at);
    // The rest, a one bit, zeros and the length in bits fill one block or two.
    std::uint8_t tail[128] = {};
    const std::size_t rest = size - whole;
    if (rest != 0)
        std::memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    const std::size_t end = rest < 56 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
    for (std::size_t i = 0; i < 8; ++i)
        tail[end - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t at = 0; at < end; at += 64)
        block(tail + at);
    digest out;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

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

} // namespace

template <> class pybind11::detail::type_caster<py_tape> : public filled_caster<py_tape> {
};

namespace {

py_tape make_tape(std::vector<std::uint8_t>&& bytes, std::string label)
{
    // A file is read into a buffer of at least 64 KiB; a tape kept for long
    // keeps only its own bytes.
    if (bytes.capacity() - bytes.size() > 4096)
        bytes.shrink_to_fit();
    py_tape tape;
    {
        py::gil_scoped_release unlocked;
        tape.data = read_data(std::move(bytes));
    }
    const cassmak::tape_index& index = tape.data->index;
    check_memory(index.status, index.message);
    if (index.status == 2)
        raise_value("data: " + index.message, index.status, index.message);
    tape.label = std::move(label);
    return tape;
}

// A path as the system finds the file: from the current folder and through
// links, so that one file spelt two ways is one.
std::string resolved_path(const std::string& path)
{
    return py::module_::import("os.path").attr("realpath")(py::bytes(path)).cast<std::string>();
}

// Whether `object` is a binary file (it has a `read` or a `write`) rather than
// a path.
bool is_file_object(const py::object& object, const char* method)
{
    return !PyUnicode_Check(object.ptr()) && !PyBytes_Check(object.ptr()) &&
           !PyObject_HasAttrString(object.ptr(), "__fspath__") &&
           PyObject_HasAttrString(object.ptr(), method);
}

// How messages name a file object: its name where it has one.
std::string file_object_label(const py::object& file)
{
    const py::object name = py::getattr(file, "name", py::none());
    if (PyUnicode_Check(name.ptr()) || PyBytes_Check(name.ptr()))
        return text_bytes(name);
    return "<file>";
}

py_tape read_tape(const py::object& source, const std::optional<std::string>& label)
{
    if (PyObject_CheckBuffer(source.ptr()))
        return make_tape(bytes_of(source), label ? *label : "<bytes>");
    if (is_file_object(source, "read")) {
        const py::object data = source.attr("read")();
        if (!PyObject_CheckBuffer(data.ptr()))
            throw py::type_error("source.read() must give bytes, not " +
                                 std::string(Py_TYPE(data.ptr())->tp_name));
        return make_tape(bytes_of(data), label ? *label : file_object_label(source));
    }
    const std::string path = path_bytes(source);
    cassmak::loaded_tape loaded;
    {
        py::gil_scoped_release unlocked;
        loaded = cassmak::load_tape(path);
    }
    check_memory(loaded.status, loaded.message);
    if (loaded.status != 0)
        raise_file(path, loaded.status, loaded.message, loaded.message);
    py_tape tape = make_tape(std::move(loaded.bytes), label ? *label : path);
    tape.origin = std::make_shared<const file_origin>(
        file_origin{resolved_path(path), tape.data->bytes.size(), std::nullopt});
    return tape;
}

// Whether `old` is the image `origin` was read as; `own` is the tape's image.
bool holds_what_was_read(const file_origin& origin, const std::vector<std::uint8_t>& old,
                         const std::vector<std::uint8_t>& own)
{
    if (old.size() != origin.size)
        return false;
    return origin.read_digest ? sha256(old.data(), old.size()) == *origin.read_digest : old == own;
}

void save_tape(py_tape& tape, const py::object& target, bool create)
{
    if (is_file_object(target, "write")) {
        target.attr("write")(bytes_out(tape.data->bytes.data(), tape.data->bytes.size()));
        return;
    }
    const std::string path = path_bytes(target);
    // Only the file the tape was read from must still hold what was read;
    // another file is replaced whatever it holds, as the tape is what the
    // caller wants there.
    std::shared_ptr<const file_origin> origin = tape.origin;
    if (origin && resolved_path(path) != origin->path)
        origin = nullptr;
    const std::vector<std::uint8_t>& bytes = tape.data->bytes;
    const char* refusal = nullptr;
    cassmak::write_result result;
    {
        py::gil_scoped_release unlocked;
        // Compared under the lock, so that nothing another program adds can
        // come between the comparison and the replacement.
        const auto replace = [&](const std::vector<std::uint8_t>& old, bool existed,
                                 std::vector<std::uint8_t>& updated) {
            refusal = nullptr;
            if (origin && !existed)
                refusal = "it has been removed since it was read";
            else if (origin && !holds_what_was_read(*origin, old, bytes))
                refusal = "it has changed since it was read";
            if (refusal)
                return false;
            updated = bytes;
            return true;
        };
        // A missing file is the transform's to refuse when the tape was read from it.
        result = cassmak::update_output(path, create || origin != nullptr, replace);
    }
    if (refusal && result.outcome == cassmak::write_outcome::declined) {
        const std::string message =
            path + ": cannot be updated: " + refusal + "; it is left as it was";
        raise_file(path, result.status, message, message);
    }
    // The file now holds this tape's bytes (synced or not): a later save
    // compares with them.
    const bool replaced = result.outcome == cassmak::write_outcome::written ||
                          result.outcome == cassmak::write_outcome::unsynced;
    if (origin && replaced)
        tape.origin = std::make_shared<const file_origin>(
            file_origin{origin->path, bytes.size(), std::nullopt});
    check_memory(result.status, result.message);
    if (result.status != 0)
        raise_file(path, result.status, result.message, result.message);
}

// An edit's outcome as a new tape named as this one is.
py_tape edited(const py_tape& tape, cassmak::change_result&& result)
{
    check_change(result.status, result.message);
    py_tape made = make_tape(std::move(result.image), tape.label);
    made.origin = tape.origin;
    if (tape.origin && !tape.origin->read_digest) {
        // The bytes read are this tape's own, which the new one does not keep.
        file_origin origin = *tape.origin;
        {
            py::gil_scoped_release unlocked;
            origin.read_digest = sha256(tape.data->bytes.data(), tape.data->bytes.size());
        }
        made.origin = std::make_shared<const file_origin>(std::move(origin));
    }
    return made;
}

py_tape tape_remove(const py_tape& tape, const py::args& entries)
{
    const std::vector<std::string> words = entry_words(entries);
    // As rm refuses a command line without an entry.
    if (words.empty())
        raise_value("remove() needs at least one entry", 2, "no entry given");
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::remove_entries(tape.data->bytes, words, tape.label);
    }
    return edited(tape, std::move(result));
}

// An entry number as the library takes it: its digits, as typed on
// casstool's command line; the library words one that is no entry number.
std::string entry_digits(const py::int_& number)
{
    return std::string(py::str(py::handle(number)));
}

py_tape tape_retag(const py_tape& tape, const py::int_& entry, const py::object& name,
                   const py::object& number, const py::object& type, const py::object& address,
                   bool force)
{
    cassmak::header_fields fields;
    if (!name.is_none())
        fields.name = text_bytes(name);
    fields.number = field_text(number);
    if (!type.is_none())
        fields.type = text_bytes(type);
    fields.address = field_text(address);
    const std::string at = entry_digits(entry);
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::retag_typed_entry(tape.data->bytes, at, fields, force, tape.label);
    }
    return edited(tape, std::move(result));
}

py_tape tape_move(const py_tape& tape, const py::int_& entry, const py::int_& position)
{
    const std::string from = entry_digits(entry);
    const std::string to = entry_digits(position);
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::move_typed_entry(tape.data->bytes, from, to, tape.label);
    }
    return edited(tape, std::move(result));
}

py_tape tape_insert(const py_tape& tape, const py_tape& source, const py::args& entries,
                    const std::optional<py::int_>& at, bool force)
{
    std::vector<std::string> words = entry_words(entries);
    if (words.empty())
        words.emplace_back("all");
    std::optional<std::string> before;
    if (at)
        before = entry_digits(*at);
    // The library reads a source without bytes (a null data()) as the image
    // itself, as copy does when SOURCE and IMAGE are one file; an empty tape
    // is given as bytes that are there.
    std::vector<std::uint8_t> empty;
    empty.reserve(1);
    const std::vector<std::uint8_t>& from = source.data->bytes.empty() ? empty : source.data->bytes;
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::insert_entries_typed(tape.data->bytes, from, words, before, force,
                                               tape.label, source.label);
    }
    // The position casstool's --at takes is the parameter `at` here.
    const std::string position = "position '";
    if (result.status == 2 && result.message.compare(0, position.size(), position) == 0)
        raise_value("at '" + result.message.substr(position.size()), result.status, result.message);
    return edited(tape, std::move(result));
}

// Taken as references, so that None in the list is refused as any other
// object that is no tape.
py_tape tape_join(const std::vector<std::reference_wrapper<const py_tape>>& tapes, bool force,
                  const std::string& label)
{
    std::vector<std::vector<std::uint8_t>> images;
    std::vector<std::string> paths;
    for (const py_tape& tape : tapes) {
        images.push_back(tape.data->bytes);
        paths.push_back(tape.label);
    }
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::join_tapes(images, paths, label, force);
    }
    check_change(result.status, result.message);
    return make_tape(std::move(result.image), label);
}

std::vector<std::pair<py::str, py_tape>> tape_split(const py_tape& tape, bool force)
{
    cassmak::split_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::split_tape(tape.data->bytes, force, tape.label);
    }
    check_change(result.status, result.message);
    std::vector<std::pair<py::str, py_tape>> pieces;
    for (cassmak::split_piece& piece : result.pieces)
        pieces.emplace_back(text_of(piece.file_name),
                            make_tape(std::move(piece.image), piece.file_name));
    return pieces;
}

// ---- Entries -------------------------------------------------------------

// An entry is a plain Python object whose fields are made when it is, so that
// reading one is a slot's load: a listing of many small entries reads each of
// their fields, and a property call apiece would cost more than the listing.
enum entry_field {
    field_entry,
    field_offset,
    field_span,
    field_kind,
    field_length,
    field_number,
    field_type,
    field_address,
    field_name,
    field_header_checksum,
    field_data_checksum,
    field_checksums,
    field_problem,
    field_damaged,
    field_count,
};

struct entry_object {
    PyObject_HEAD PyObject* fields[field_count];
    PyObject* tape; // the Tape whose bytes hold the payload
    std::size_t payload_offset;
    std::size_t payload_size;
};

PyTypeObject* entry_type = nullptr;

// The texts that recur from entry to entry, made once.
PyObject* shared_text(const std::string& text)
{
    static std::vector<std::pair<std::string, PyObject*>> made;
    for (const auto& [known, object] : made)
        if (known == text)
            return Py_NewRef(object);
    PyObject* object = text_of(text).release().ptr();
    made.emplace_back(text, object);
    return Py_NewRef(object);
}

PyObject* new_entry(const py::handle& tape, const cassmak::entry& e)
{
    auto* object = PyObject_New(entry_object, entry_type);
    if (!object)
        throw py::error_already_set();
    const bool file = e.kind == cassmak::entry_kind::file;
    const auto or_none = [&](PyObject* value) { return file ? value : Py_NewRef(Py_None); };
    PyObject** f = object->fields;
    f[field_entry] = PyLong_FromSize_t(e.position);
    f[field_offset] = PyLong_FromSize_t(e.offset);
    f[field_span] = PyLong_FromSize_t(e.span);
    f[field_kind] = shared_text(e.kind_name);
    f[field_length] = PyLong_FromSize_t(e.length);
    f[field_number] = or_none(file ? PyLong_FromLong(e.number) : nullptr);
    f[field_type] = or_none(
        file ? PyBytes_FromStringAndSize(reinterpret_cast<const char*>(&e.type), 1) : nullptr);
    f[field_address] = or_none(file ? PyLong_FromLong(e.address) : nullptr);
    f[field_name] =
        or_none(file ? PyBytes_FromStringAndSize(reinterpret_cast<const char*>(e.name.data()),
                                                 static_cast<Py_ssize_t>(e.name.size()))
                     : nullptr);
    f[field_header_checksum] = or_none(file ? PyBool_FromLong(e.header_checksum_good) : nullptr);
    f[field_data_checksum] = file && e.data != cassmak::data_checksum::absent
                                 ? PyBool_FromLong(e.data == cassmak::data_checksum::good)
                                 : Py_NewRef(Py_None);
    f[field_checksums] = shared_text(e.checksum_words);
    f[field_problem] = e.problem.empty() ? Py_NewRef(Py_None) : text_of(e.problem).release().ptr();
    f[field_damaged] = PyBool_FromLong(!e.problem.empty());
    object->tape = Py_NewRef(tape.ptr());
    object->payload_offset = e.payload_offset;
    object->payload_size = e.payload_size;
    for (PyObject* field : object->fields)
        if (!field) {
            Py_DECREF(object);
            throw py::error_already_set();
        }
    return reinterpret_cast<PyObject*>(object);
}

void entry_dealloc(PyObject* self)
{
    auto* object = reinterpret_cast<entry_object*>(self);
    for (PyObject* field : object->fields)
        Py_XDECREF(field);
    Py_XDECREF(object->tape);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* entry_payload(PyObject* self, void*)
{
    auto* object = reinterpret_cast<entry_object*>(self);
    try {
        const py_tape& tape = py::handle(object->tape).cast<const py_tape&>();
        return bytes_out(tape.data->bytes.data() + object->payload_offset, object->payload_size)
            .release()
            .ptr();
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
}

PyObject* entry_name_str(PyObject* self, void*)
{
    PyObject* name = reinterpret_cast<entry_object*>(self)->fields[field_name];
    if (name == Py_None)
        return Py_NewRef(Py_None);
    const char* bytes = PyBytes_AS_STRING(name);
    Py_ssize_t end = PyBytes_GET_SIZE(name);
    while (end > 0 && bytes[end - 1] == ' ')
        --end;
    PyObject* text = PyUnicode_DecodeUTF8(bytes, end, "strict");
    if (!text) {
        PyErr_Clear();
        return Py_NewRef(Py_None);
    }
    return text;
}

// Entries are equal when every field and the payload are: the same entry
// of two tapes of the same bytes, or of two tapes where it lies alike.
PyObject* entry_richcompare(PyObject* self, PyObject* other, int op)
{
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self))
        Py_RETURN_NOTIMPLEMENTED;
    auto* a = reinterpret_cast<entry_object*>(self);
    auto* b = reinterpret_cast<entry_object*>(other);
    bool same = true;
    for (std::size_t i = 0; same && i < field_count; ++i) {
        const int equal = PyObject_RichCompareBool(a->fields[i], b->fields[i], Py_EQ);
        if (equal < 0)
            return nullptr;
        same = equal == 1;
    }
    if (same) {
        PyObject* payload_a = entry_payload(self, nullptr);
        PyObject* payload_b = payload_a ? entry_payload(other, nullptr) : nullptr;
        const int equal = payload_b ? PyObject_RichCompareBool(payload_a, payload_b, Py_EQ) : -1;
        Py_XDECREF(payload_a);
        Py_XDECREF(payload_b);
        if (equal < 0)
            return nullptr;
        same = equal == 1;
    }
    return PyBool_FromLong(same == (op == Py_EQ));
}

// Over the fields alone: entries equal in every field but the payload are
// rare, and hashing the payload would read it.
Py_hash_t entry_hash(PyObject* self)
{
    PyObject** fields = reinterpret_cast<entry_object*>(self)->fields;
    PyObject* tuple = PyTuple_New(field_count);
    if (!tuple)
        return -1;
    for (std::size_t i = 0; i < field_count; ++i)
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), Py_NewRef(fields[i]));
    const Py_hash_t hash = PyObject_Hash(tuple);
    Py_DECREF(tuple);
    return hash;
}

PyObject* entry_repr(PyObject* self)
{
    PyObject** f = reinterpret_cast<entry_object*>(self)->fields;
    if (f[field_problem] == Py_None)
        return PyUnicode_FromFormat("<cassmak.Entry %S: %S, %S bytes>", f[field_entry],
                                    f[field_kind], f[field_length]);
    return PyUnicode_FromFormat("<cassmak.Entry %S: %S, %S bytes, %S>", f[field_entry],
                                f[field_kind], f[field_length], f[field_problem]);
}

#define CASSMAK_FIELD(name, doc)                                                                   \
    {                                                                                              \
#name, T_OBJECT_EX,                                                                        \
            static_cast < Py_ssize_t>                                                              \
                (offsetof(entry_object, fields) + field_##name * sizeof(PyObject*)),               \
            READONLY, doc                                                                          \
    }

PyMemberDef entry_members[] = {
    CASSMAK_FIELD(entry, "The 1-based position in the image, as the programs number it."),
    CASSMAK_FIELD(offset, "The offset of the entry's first length field in the image."),
    CASSMAK_FIELD(span, "The bytes of the image the entry takes, length fields included."),
    CASSMAK_FIELD(kind, "'file', 'headless' or 'truncated'."),
    CASSMAK_FIELD(length, "The payload length: a file's header field + 1, a headless block's\n"
                          "length, or the bytes of a truncated tail."),
    CASSMAK_FIELD(number, "A file's number (0 to 255); None for any other entry."),
    CASSMAK_FIELD(type, "A file's type, one byte; None for any other entry."),
    CASSMAK_FIELD(address, "A file's start address; None for any other entry."),
    CASSMAK_FIELD(name, "A file's 8-byte name, padding included; None for any other entry."),
    CASSMAK_FIELD(header_checksum,
                  "Whether a file's header checksum is good; None for any other entry."),
    CASSMAK_FIELD(data_checksum,
                  "Whether a file's data checksum is good; None without a data block."),
    CASSMAK_FIELD(checksums, "The checksums in the table's words: 'good', 'data bad', ..., '-'."),
    CASSMAK_FIELD(problem, "What is wrong with the entry; None when it is sound."),
    CASSMAK_FIELD(damaged, "Whether the entry has a problem."),
    {nullptr, 0, 0, 0, nullptr},
};

#undef CASSMAK_FIELD

PyGetSetDef entry_getset[] = {
    {"payload", entry_payload, nullptr,
     "The bytes `casstool extract --force` writes for the entry.", nullptr},
    {"name_str", entry_name_str, nullptr,
     "The name without its trailing spaces, where it decodes as UTF-8.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot entry_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(entry_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(entry_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(entry_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(entry_hash)},
    {Py_tp_members, entry_members},
    {Py_tp_getset, entry_getset},
    {Py_tp_doc,
     const_cast<char*>("One entry of an image, as `casstool list` shows it. Entries compare\n"
                       "equal, and hash alike, when their fields and payloads are.")},
    {0, nullptr},
};

PyType_Spec entry_spec = {
    "cassmak.Entry",
    sizeof(entry_object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    entry_slots,
};

// The entry at 0-based `index` (entry number index + 1) of the tape `tape`.
py::object entry_at(const py::handle& tape, std::size_t index)
{
    const py_tape& t = tape.cast<const py_tape&>();
    const std::vector<cassmak::entry> read = entries_of(*t.data, index, 1);
    return py::reinterpret_steal<py::object>(new_entry(tape, read.at(0)));
}

// An iterator over a tape's entries, which reads them a few at a time: a
// loop over a tape holds one of them at once, not a list of them all.
struct entry_iterator_object {
    PyObject_HEAD PyObject* tape;
    std::size_t next;                   // the 0-based index of the next entry to read
    std::vector<cassmak::entry>* batch; // the entries read and not yet given
    std::size_t taken;                  // of `batch`
};

PyTypeObject* entry_iterator_type = nullptr;

// Enough to make the call per batch count for nothing, few enough to take
// no memory to speak of.
constexpr std::size_t iterator_batch = 64;

PyObject* new_entry_iterator(const py::handle& tape)
{
    auto* object = PyObject_New(entry_iterator_object, entry_iterator_type);
    if (!object)
        throw py::error_already_set();
    object->tape = Py_NewRef(tape.ptr());
    object->next = 0;
    object->batch = nullptr;
    object->taken = 0;
    try {
        object->batch = new std::vector<cassmak::entry>();
    } catch (...) {
        Py_DECREF(object);
        throw;
    }
    return reinterpret_cast<PyObject*>(object);
}

void entry_iterator_dealloc(PyObject* self)
{
    auto* object = reinterpret_cast<entry_iterator_object*>(self);
    delete object->batch;
    Py_XDECREF(object->tape);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* entry_iterator_next(PyObject* self)
{
    auto* object = reinterpret_cast<entry_iterator_object*>(self);
    try {
        if (object->taken == object->batch->size()) {
            const py_tape& tape = py::handle(object->tape).cast<const py_tape&>();
            *object->batch = entries_of(*tape.data, object->next, iterator_batch);
            object->next += object->batch->size();
            object->taken = 0;
            if (object->batch->empty())
                return nullptr; // the end, without an exception set
        }
        return new_entry(object->tape, (*object->batch)[object->taken++]);
    } catch (py::error_already_set& error) {
        error.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return nullptr;
}

PyType_Slot entry_iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(entry_iterator_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(entry_iterator_next)},
    {0, nullptr},
};

PyType_Spec entry_iterator_spec = {
    "cassmak.TapeIterator",
    sizeof(entry_iterator_object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    entry_iterator_slots,
};

// ---- Making tapes ------------------------------------------------------

// A number for cassmak's fields: an int, or a str as cassmak reads -n and -a
// ("0x4000"). One out of an int's range is out of every field's range, as
// cassmak finds such a number on its command line.
int header_number(const py::object& value, const char* parameter)
{
    if (PyUnicode_Check(value.ptr())) {
        const long number = cassmak::parse_cassmak_number(text_bytes(value));
        return number < 0 || number > INT_MAX ? -1 : static_cast<int>(number);
    }
    if (!PyLong_Check(value.ptr()))
        throw py::type_error(std::string(parameter) + " must be int or str, not " +
                             Py_TYPE(value.ptr())->tp_name);
    const long long number = PyLong_AsLongLong(value.ptr());
    if (number == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return -1;
    }
    return number < INT_MIN || number > INT_MAX ? -1 : static_cast<int>(number);
}

// A type as cassmak takes -t: a text of more than one character is no type.
char type_char(const py::object& type)
{
    const std::string text = text_bytes(type);
    return text.size() == 1 ? text[0] : '\0';
}

// The last `count` numbers of a message of cassmak's, as written there: its
// bounds ("in range 0 to 65535", "max. 8 characters").
std::string bounds_in(const std::string& message, int count)
{
    std::vector<std::string> numbers;
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t start = message.find_first_of("0123456789", at);
        if (start == std::string::npos)
            break;
        const std::size_t end = message.find_first_not_of("0123456789", start);
        numbers.push_back(message.substr(start, end - start));
        at = end == std::string::npos ? message.size() : end;
    }
    if (numbers.size() < static_cast<std::size_t>(count))
        return "";
    return count == 1 ? numbers.back() : numbers[numbers.size() - 2] + " to " + numbers.back();
}

// What a made tape's parameters held, for the words of a refusal.
struct made_values {
    const char* data_name = "data"; // the parameter with the bytes to store
    std::size_t data_size = 0;
    py::object name, number, type, address;
};

std::string repr_of(const py::object& value)
{
    return std::string(py::repr(value));
}

// cassmak's refusal (its status and message) in Python's words: the
// parameter that holds the value and the value, where cassmak names its
// option and input file.
std::string made_words(int status, const std::string& message, const made_values& given)
{
    switch (status) {
    case 7:
        return std::string(given.data_name) + " must be " + bounds_in(message, 2) +
               " bytes long, not " + std::to_string(given.data_size);
    case 15:
        return "address must be in range " + bounds_in(message, 2) + ", not " +
               repr_of(given.address);
    case 16:
        return "number must be in range " + bounds_in(message, 2) + ", not " +
               repr_of(given.number);
    case 17:
        return "type must be a single ASCII character from '!' to '~', not " + repr_of(given.type);
    case 18:
        return "name must be at most " + bounds_in(message, 1) + " characters, not " +
               repr_of(given.name);
    case 19:
        return std::string(given.data_name) + " is a BASIC program too large (max. " +
               bounds_in(message, 1) + " bytes)";
    default: return message;
    }
}

py::bytes made(cassmak::made_tape&& tape, const made_values& given)
{
    check_memory(tape.status, tape.message);
    if (tape.status != 0)
        raise_value(made_words(tape.status, tape.message, given), tape.status, tape.message);
    return bytes_out(tape.image);
}

py::bytes make_file(const py::object& data, const py::object& name, const py::object& number,
                    const py::object& type, const py::object& address, const std::string& source)
{
    cassmak::file_fields fields;
    fields.name = text_bytes(name);
    fields.number = header_number(number, "number");
    fields.type = type_char(type);
    fields.address = header_number(address, "address");
    const std::vector<std::uint8_t> payload = bytes_of(data);
    cassmak::made_tape tape;
    {
        py::gil_scoped_release unlocked;
        tape = cassmak::make_file(payload.data(), payload.size(), fields, source);
    }
    return made(std::move(tape), {"data", payload.size(), name, number, type, address});
}

py::bytes make_headless(const py::object& data, const std::string& source)
{
    const std::vector<std::uint8_t> payload = bytes_of(data);
    cassmak::made_tape tape;
    {
        py::gil_scoped_release unlocked;
        tape = cassmak::make_headless(payload.data(), payload.size(), source);
    }
    return made(std::move(tape), {"data", payload.size(), {}, {}, {}, {}});
}

struct line_warning {
    std::int32_t line;
    std::string text;
};

std::pair<py::bytes, std::vector<line_warning>> import_basic(const py::object& text,
                                                             const std::string& source)
{
    const std::string bytes = text_bytes(text);
    cassmak::made_tape tape;
    {
        py::gil_scoped_release unlocked;
        tape = cassmak::import_basic(bytes, "", 0, source);
    }
    check_memory(tape.status, tape.message);
    if (tape.status != 0)
        raise_value(made_words(tape.status, tape.message, {"text", bytes.size(), {}, {}, {}, {}}),
                    tape.status, tape.message);
    std::vector<line_warning> warnings;
    warnings.reserve(tape.warnings.size());
    for (cassmak::import_warning& warning : tape.warnings)
        warnings.push_back({warning.line, std::move(warning.text)});
    return {bytes_out(tape.program), std::move(warnings)};
}

// ---- BASIC -------------------------------------------------------------

struct diagnostic {
    cassmak::diagnostic found;
    bool operator==(const diagnostic& other) const
    {
        const cassmak::diagnostic& a = found;
        const cassmak::diagnostic& b = other.found;
        return a.line == b.line && a.column == b.column && a.display_column == b.display_column &&
               a.kind == b.kind && a.message == b.message;
    }
};

} // namespace

template <> class pybind11::detail::type_caster<diagnostic> : public filled_caster<diagnostic> {
};
template <> class pybind11::detail::type_caster<line_warning> : public filled_caster<line_warning> {
};

namespace {

std::string diagnostic_text(const diagnostic& d)
{
    std::string line = cassmak::format_diagnostic("", d.found);
    // Without the source in front (":") and the line end behind.
    return line.substr(1, line.size() - 2);
}

std::vector<diagnostic> check_source(const py::object& text)
{
    const std::string source = text_bytes(text);
    cassmak::source_check result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::check_source(source);
    }
    check_memory(result.status, result.message);
    if (result.status > 1)
        raise_failure(result.status, result.message);
    std::vector<diagnostic> found;
    found.reserve(result.diagnostics.size());
    for (cassmak::diagnostic& d : result.diagnostics)
        found.push_back({std::move(d)});
    return found;
}

cassmak::basic_text listing_of(const py::object& program)
{
    const std::vector<std::uint8_t> bytes = bytes_of(program);
    cassmak::basic_text listing;
    {
        py::gil_scoped_release unlocked;
        listing = cassmak::list_basic(bytes.data(), bytes.size());
    }
    check_memory(listing.status, listing.message);
    if (listing.status > 1)
        raise_failure(listing.status, listing.message);
    return listing;
}

} // namespace

// A class made for the module: `name` under cassmak, with `bases`.
PyObject* new_error(const char* name, const char* doc, const py::tuple& bases)
{
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases.ptr(), nullptr);
    if (!type)
        throw py::error_already_set();
    return type;
}

PYBIND11_MODULE(cassmak, module)
{
    // Each docstring begins with the call's signature in the form
    // inspect.signature reads ("name(a, b=1)\n--\n\n"); pybind11's own would
    // hide it.
    py::options options;
    options.disable_function_signatures();

    module.doc() = "Tape images of an 8-bit computer with a 16-bit address space, made, read\n"
                   "and changed byte for byte as the cassmak and casstool programs do.\n"
                   "\n"
                   "Bytes in, bytes out: images, payloads and names are bytes; a name also has\n"
                   "a str view where it decodes. A failure raises cassmak.Error: a FileError\n"
                   "(also OSError) for a file, a BadValueError (also ValueError) for a value\n"
                   "refused. Entries are numbered from 1, as the programs number them; a\n"
                   "Tape is indexed from 0, as any Python sequence is (tape[0] is entry 1).";
    module.attr("__version__") = cassmak::version();

    const py::handle os_error(PyExc_OSError);
    error_type =
        new_error("cassmak.Error",
                  "A refused or failed call. str(error) says it in Python's terms;\n"
                  "error.tool_message is the message the program prints for it (also\n"
                  "error.message), error.status the exit status the program gives for it\n"
                  "(cassmak's code for make_file, make_headless and import_basic; casstool's\n"
                  "2 for the rest).",
                  py::make_tuple(py::handle(PyExc_Exception)));
    file_error_type =
        new_error("cassmak.FileError",
                  "A file that cannot be read or written, also an OSError: errno, strerror\n"
                  "and filename as Python's own calls give them, where the system gave a\n"
                  "reason.",
                  py::make_tuple(py::handle(error_type), os_error));
    missing_file_type = new_error(
        "cassmak.FileMissingError", "A file or folder that is not there; also FileNotFoundError.",
        py::make_tuple(py::handle(file_error_type), py::handle(PyExc_FileNotFoundError)));
    file_access_type = new_error(
        "cassmak.FileAccessError", "A file the caller may not read or write; also PermissionError.",
        py::make_tuple(py::handle(file_error_type), py::handle(PyExc_PermissionError)));
    folder_given_type = new_error(
        "cassmak.FolderGivenError", "A folder where a file is needed; also IsADirectoryError.",
        py::make_tuple(py::handle(file_error_type), py::handle(PyExc_IsADirectoryError)));
    bad_value_type =
        new_error("cassmak.BadValueError",
                  "A value the call refuses (an entry the image lacks, a field out of\n"
                  "range, a change the image's damage forbids); also ValueError.",
                  py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)));
    module.add_object("Error", py::handle(error_type));
    module.add_object("FileError", py::handle(file_error_type));
    module.add_object("FileMissingError", py::handle(missing_file_type));
    module.add_object("FileAccessError", py::handle(file_access_type));
    module.add_object("FolderGivenError", py::handle(folder_given_type));
    module.add_object("BadValueError", py::handle(bad_value_type));

    entry_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry_spec));
    if (!entry_type)
        throw py::error_already_set();
    module.add_object("Entry", py::handle(reinterpret_cast<PyObject*>(entry_type)));
    entry_iterator_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry_iterator_spec));
    if (!entry_iterator_type)
        throw py::error_already_set();

    py::class_<py_tape>(module, "Tape",
                        "A tape image and its entries. Edits give a new Tape and leave this one\n"
                        "as it is; every entry an edit does not touch keeps its bytes. Indexed\n"
                        "from 0 (tape[0] is entry 1); the edits take entry numbers, from 1.\n"
                        "A tape holds its bytes and 4 bytes an entry; an Entry is read when it\n"
                        "is asked for. It pickles as its bytes and label.")
        .def(py::init([](const py::object& data, const std::string& label) {
                 return make_tape(bytes_of(data), label);
             }),
             py::arg("data") = py::bytes(), py::arg("label") = "<bytes>",
             "__init__(self, data=b'', label='<bytes>')\n--\n\n"
             "A tape of the image `data`; `label` names it in messages.")
        .def_static("read", read_tape, py::arg("source"), py::arg("label") = py::none(),
                    "read(source, label=None)\n--\n\n"
                    "Reads an image from a file: a path, or a binary file object (read\n"
                    "to its end); or from bytes. A path names the tape in messages, as\n"
                    "casstool names it; a file object by its name.")
        .def_property_readonly(
            "label", [](const py_tape& t) { return text_of(t.label); },
            "How messages name the image: its path, or the label given.")
        .def_property_readonly(
            "size", [](const py_tape& t) { return t.data->bytes.size(); },
            "The image's length in bytes.")
        .def_property_readonly(
            "damaged", [](const py_tape& t) { return t.data->damaged(); },
            "Whether any entry is damaged (casstool list's exit status 1).")
        .def(
            "to_bytes",
            [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); },
            "to_bytes($self, /)\n--\n\nThe image's bytes.")
        .def(
            "__bytes__",
            [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); },
            "__bytes__($self, /)\n--\n\nThe image's bytes.")
        .def(
            "__len__", [](const py_tape& t) { return t.data->count(); },
            "__len__($self, /)\n--\n\nThe number of entries.")
        .def(
            "__getitem__",
            [](const py::object& self, Py_ssize_t index) {
                const auto count =
                    static_cast<Py_ssize_t>(self.cast<const py_tape&>().data->count());
                if (index < 0)
                    index += count;
                if (index < 0 || index >= count)
                    throw py::index_error("entry index out of range");
                return entry_at(self, static_cast<std::size_t>(index));
            },
            "__getitem__($self, index, /)\n--\n\n"
            "The entry at 0-based `index` (entry number index + 1), or a list of\n"
            "the entries of a slice.")
        .def("__getitem__",
             [](const py::object& self, const py::slice& slice) {
                 const py_tape& t = self.cast<const py_tape&>();
                 std::size_t start = 0, stop = 0, step = 0, length = 0;
                 if (!slice.compute(t.data->count(), &start, &stop, &step, &length))
                     throw py::error_already_set();
                 py::list entries(length);
                 for (std::size_t i = 0; i < length; ++i, start += step)
                     entries[i] = entry_at(self, start);
                 return entries;
             })
        .def(
            "__iter__",
            [](const py::object& self) {
                self.cast<const py_tape&>();
                return py::reinterpret_steal<py::object>(new_entry_iterator(self));
            },
            "__iter__($self, /)\n--\n\nThe entries in image order, read as the loop comes to them.")
        .def(
            "__eq__",
            [](const py_tape& a, const py::object& other) {
                if (!py::isinstance<py_tape>(other))
                    return false;
                return a.data->bytes == other.cast<const py_tape&>().data->bytes;
            },
            "__eq__($self, other, /)\n--\n\nTapes are equal when their bytes are.")
        .def("__repr__",
             [](const py_tape& t) {
                 return text_of("<cassmak.Tape " + t.label + ": " +
                                std::to_string(t.data->count()) + " entries, " +
                                std::to_string(t.data->bytes.size()) + " bytes>");
             })
        .def(py::pickle(
            [](const py_tape& t) {
                return py::make_tuple(bytes_out(t.data->bytes.data(), t.data->bytes.size()),
                                      text_of(t.label));
            },
            [](const py::tuple& state) {
                if (state.size() != 2)
                    throw py::value_error("a Tape's state is its bytes and its label");
                return make_tape(bytes_of(state[0]), text_bytes(state[1]));
            }))
        .def("save", save_tape, py::arg("path"), py::arg("create") = true,
             "save($self, /, path, create=True)\n--\n\n"
             "Replaces the file at `path` with this image as casstool's changing\n"
             "commands do: under the lock cassmak -append takes, whole or not at\n"
             "all, keeping the file's permissions, owner and links. Without\n"
             "create, a missing file is an error. The file the tape was read from\n"
             "(an edit's tape too) is replaced only while it still holds what was\n"
             "read, or what this tape last saved there: compared under the lock,\n"
             "one changed or removed since (by cassmak -append or any other\n"
             "program) is left as it is, and FileError is raised. `path` may also\n"
             "be a binary file object, which is written the image.")
        .def("remove", tape_remove,
             "remove($self, /, *entries)\n--\n\n"
             "`casstool rm`: the entries taken out, at least one: entry numbers\n"
             "(from 1) as ints, or as casstool takes them, texts with ranges 'A-B'\n"
             "and 'all'.")
        .def("retag", tape_retag, py::arg("entry"), py::kw_only(), py::arg("name") = py::none(),
             py::arg("number") = py::none(), py::arg("type") = py::none(),
             py::arg("address") = py::none(), py::arg("force") = false,
             "retag($self, /, entry, *, name=None, number=None, type=None, address=None, "
             "force=False)\n--\n\n"
             "`casstool set`: the header of file `entry` (a number from 1)\n"
             "rewritten with a new checksum. Numbers are ints or the texts casstool\n"
             "takes ('0x4000'); a bad header checksum is rewritten only with force.")
        .def("move", tape_move, py::arg("entry"), py::arg("position"),
             "move($self, /, entry, position)\n--\n\n"
             "`casstool move`: entry `entry` moved to become entry `position`\n"
             "(both numbers from 1).")
        .def("insert", tape_insert, py::arg("source"), py::arg("at") = py::none(),
             py::arg("force") = false,
             "insert($self, /, source, *entries, at=None, force=False)\n--\n\n"
             "`casstool copy SOURCE ENTRY... --to THIS [--at AT]`: entries of\n"
             "`source` (all without any given; as remove takes them) copied in\n"
             "before entry `at` (a number from 1; at the end without it); a\n"
             "truncated tail only with force.")
        .def("split", tape_split, py::arg("force") = false,
             "split($self, /, force=False)\n--\n\n"
             "`casstool split`: each entry as a tape of its own, with the file\n"
             "name split gives it ('01-GAME.kst'); a truncated tail only with\n"
             "force.");

    py::class_<diagnostic>(module, "Diagnostic",
                           "One warning of check_source, as `casstool check` prints it.")
        .def_property_readonly(
            "line", [](const diagnostic& d) { return d.found.line; }, "The physical line, from 1.")
        .def_property_readonly(
            "column", [](const diagnostic& d) { return d.found.display_column; },
            "The column as casstool prints it, counting characters as GCC does.")
        .def_property_readonly(
            "byte_column", [](const diagnostic& d) { return d.found.column; },
            "The byte column, from 1.")
        .def_property_readonly(
            "kind", [](const diagnostic& d) { return text_of(d.found.kind); },
            "The kind's name, as -W no-KIND spells it ('no-number', ...).")
        .def_property_readonly(
            "message", [](const diagnostic& d) { return text_of(d.found.message); },
            "What the warning says.")
        .def(
            "__str__", [](const diagnostic& d) { return text_of(diagnostic_text(d)); },
            "__str__($self, /)\n--\n\n'LINE:COLUMN: warning: MESSAGE [KIND]'.")
        .def("__repr__",
             [](const diagnostic& d) {
                 return text_of("<cassmak.Diagnostic " + diagnostic_text(d) + ">");
             })
        .def(py::self == py::self);

    py::class_<line_warning>(module, "LineWarning",
                             "A warning of import_basic: cassmak's text for a line it read.")
        .def_readonly("line", &line_warning::line,
                      "The line number as cassmak's progress line shows it.")
        .def_property_readonly(
            "text", [](const line_warning& w) { return text_of(w.text); },
            "'Line is long. Possible problem!', 'Wrong order of line. Last line N'\n"
            "or 'Line is short. Possible problem!'.")
        .def("__repr__", [](const line_warning& w) {
            return text_of("<cassmak.LineWarning " + std::to_string(w.line) + ": " + w.text + ">");
        });

    module.def("join", tape_join, py::arg("tapes"), py::kw_only(), py::arg("force") = false,
               py::arg("label") = "<joined>",
               "join(tapes, *, force=False, label='<joined>')\n--\n\n"
               "`casstool join`: the entries of the tapes back to back; a truncated\n"
               "tail only with force. `label` names the result in messages.");
    module.def("make_file", make_file, py::arg("data"), py::arg("name") = py::bytes(),
               py::arg("number") = 0, py::arg("type") = py::bytes("?"), py::arg("address") = 0,
               py::arg("source") = "<data>",
               "make_file(data, name=b'', number=0, type=b'?', address=0, "
               "source='<data>')\n--\n\n"
               "`cassmak -m NAME -n NUMBER -t TYPE -a ADDRESS`: a header block and\n"
               "a data block holding `data` (1 to 65,533 bytes). The name is at most 8\n"
               "bytes, stored upper case and padded; an empty name stays blank.\n"
               "Numbers are ints or the texts cassmak takes ('0x4000'). `source`\n"
               "names the data in the program's message (error.tool_message), as\n"
               "cassmak names its input.");
    module.def("make_headless", make_headless, py::arg("data"), py::arg("source") = "<data>",
               "make_headless(data, source='<data>')\n--\n\n"
               "`cassmak -hless`: `data` (1 to 65,533 bytes) as a headless block.");
    module.def("import_basic", import_basic, py::arg("text"), py::arg("source") = "<text>",
               "import_basic(text, source='<text>')\n--\n\n"
               "`cassmak -b`: the BASIC source (5 to 65,535 bytes; a str is taken\n"
               "as UTF-8) tokenized into the program image, and cassmak's warnings for\n"
               "its lines. `source` names it in the program's message. Store the image\n"
               "with make_file(image, type='>', address=0x2401).");
    module.def("check_source", check_source, py::arg("text"),
               "check_source(text)\n--\n\n"
               "`casstool check`: what cassmak -b will store differently from what\n"
               "the source plainly means, in the order of the source.");
    module.def(
        "list_basic", [](const py::object& image) { return text_of(listing_of(image).text); },
        py::arg("image"),
        "list_basic(image)\n--\n\n"
        "`casstool basic`: the program image as source text that import_basic\n"
        "turns into the same image. Bytes that are not UTF-8 come back as\n"
        "surrogate escapes, so that import_basic gets them back unchanged.");
    module.def(
        "list_basic_warnings",
        [](const py::object& image) {
            std::vector<py::str> warnings;
            for (const std::string& warning : listing_of(image).warnings)
                warnings.push_back(text_of(warning));
            return warnings;
        },
        py::arg("image"),
        "list_basic_warnings(image)\n--\n\n"
        "The lines `casstool basic` warns about on standard error (without\n"
        "the image and entry in front): what will not come back identically.");
}
