// The Python module: the library's calls with Python's types. Bytes stay
// bytes; every failure becomes a cassmak.Error that carries the message and
// the exit status the programs give for it; the long calls let other Python
// threads run while they work.
#include "basic/checker.h"
#include "basic/detokenizer.h"
#include "basic/importer.h"
#include "cassmak/options.h"
#include "cassmak/run.h"
#include "cassmak/status.h"
#include "io/files.h"
#include "tape/blocks.h"
#include "tape/reader.h"

#include <pybind11/operators.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// ---- Errors ------------------------------------------------------------

PyObject* error_type = nullptr;

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

[[noreturn]] void raise_error(int status, const std::string& message)
{
    py::object error = py::reinterpret_borrow<py::object>(error_type)(text_of(message));
    error.attr("status") = status;
    error.attr("message") = text_of(message);
    PyErr_SetObject(error_type, error.ptr());
    throw py::error_already_set();
}

// casstool's status for a refusal or failure.
constexpr int tool_failed = 2;

// ---- Bytes in ----------------------------------------------------------

// The bytes of any object with the buffer protocol (bytes, bytearray,
// memoryview, ...), copied so that the work can go on without the GIL.
std::vector<std::uint8_t> bytes_of(const py::buffer& data)
{
    const py::buffer_info info = data.request();
    if (info.ndim > 1 && !PyBuffer_IsContiguous(info.view(), 'C'))
        throw py::value_error("a contiguous buffer is needed");
    const auto* at = static_cast<const std::uint8_t*>(info.ptr);
    const auto size = static_cast<std::size_t>(info.size * info.itemsize);
    return std::vector<std::uint8_t>(at, at + size);
}

// A text as the programs take it: bytes as they are, a str as its UTF-8
// bytes (surrogate escapes giving back the bytes they stand for).
std::string text_bytes(const py::handle& text)
{
    if (PyUnicode_Check(text.ptr())) {
        PyObject* encoded = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
        if (!encoded)
            throw py::error_already_set();
        const py::bytes bytes = py::reinterpret_steal<py::bytes>(encoded);
        return bytes;
    }
    const std::vector<std::uint8_t> bytes = bytes_of(py::reinterpret_borrow<py::buffer>(text));
    return std::string(bytes.begin(), bytes.end());
}

// A file system path (str or os.PathLike) as the bytes the system gets.
std::string path_bytes(const py::handle& path)
{
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path.ptr(), &encoded))
        throw py::error_already_set();
    const py::bytes bytes = py::reinterpret_steal<py::bytes>(encoded);
    return bytes;
}

py::bytes bytes_out(const std::uint8_t* data, std::size_t size)
{
    return py::bytes(reinterpret_cast<const char*>(data), size);
}

// ---- Tapes -------------------------------------------------------------

// An image and its entries, shared by a Tape and the entries taken from it.
struct tape_data {
    std::vector<std::uint8_t> bytes;
    std::vector<tape_entry> entries;
};

std::shared_ptr<const tape_data> read_data(std::vector<std::uint8_t>&& bytes)
{
    auto data = std::make_shared<tape_data>();
    data->bytes = std::move(bytes);
    data->entries = read_tape_image(data->bytes.data(), data->bytes.size());
    return data;
}

struct py_tape {
    std::shared_ptr<const tape_data> data;
    std::string label; // how messages name the image
};

struct py_entry {
    std::shared_ptr<const tape_data> data;
    std::size_t index;
    const tape_entry& get() const
    {
        return data->entries[index];
    }
    bool file() const
    {
        return get().kind == entry_kind::file;
    }
};

// The largest image read, as casstool reads one: it stops a device such as
// /dev/zero from eating the memory.
constexpr std::size_t image_limit = (std::size_t{1} << 30) - 1;

py_tape read_tape(const py::object& source, const std::optional<std::string>& label)
{
    if (PyObject_CheckBuffer(source.ptr())) {
        std::vector<std::uint8_t> bytes = bytes_of(source);
        py::gil_scoped_release unlocked;
        return {read_data(std::move(bytes)), label ? *label : "<bytes>"};
    }
    const std::string path = path_bytes(source);
    std::string reason;
    read_outcome outcome = read_outcome::read;
    py_tape tape;
    {
        py::gil_scoped_release unlocked;
        std::vector<std::uint8_t> bytes;
        std::size_t size = 0;
        read_result result = read_whole_file(path, image_limit, bytes, size);
        outcome = result.outcome;
        reason = std::move(result.reason);
        if (outcome == read_outcome::read) {
            bytes.resize(size);
            tape.data = read_data(std::move(bytes));
        }
    }
    switch (outcome) {
    case read_outcome::read: break;
    case read_outcome::open_failed: raise_error(tool_failed, path + ": cannot open: " + reason);
    case read_outcome::read_failed: raise_error(tool_failed, path + ": cannot read: " + reason);
    case read_outcome::too_large:
        raise_error(tool_failed, path + ": larger than 1 GiB, not a tape image");
    }
    tape.label = label ? *label : path;
    return tape;
}

void save_tape(const py_tape& tape, const py::object& target, bool create)
{
    const std::string path = path_bytes(target);
    write_result result;
    {
        py::gil_scoped_release unlocked;
        const std::vector<std::uint8_t>& bytes = tape.data->bytes;
        // Another run's image found under the lock is replaced all the same:
        // the tape is what the caller wants there.
        result = update_output(
            path, create,
            [&](const std::vector<std::uint8_t>&, bool, std::vector<std::uint8_t>& updated) {
                updated = bytes;
                return true;
            });
    }
    if (result.outcome != write_outcome::written)
        raise_error(tool_failed, path + ": cannot be updated" +
                                     (result.reason.empty() ? "" : ": " + result.reason) +
                                     "; it is left as it was");
}

py::object optional_int(bool given, unsigned value)
{
    return given ? py::object(py::int_(value)) : py::object(py::none());
}

py::object name_str(const py_entry& entry)
{
    if (!entry.file())
        return py::none();
    const auto& name = entry.get().name;
    std::size_t end = name.size();
    while (end > 0 && name[end - 1] == ' ')
        --end;
    PyObject* text = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(name.data()),
                                          static_cast<Py_ssize_t>(end), "strict");
    if (!text) {
        PyErr_Clear();
        return py::none();
    }
    return py::reinterpret_steal<py::object>(text);
}

// ---- BASIC -------------------------------------------------------------

struct diagnostic {
    std::size_t line, column, byte_column;
    std::string kind, message;
    bool operator==(const diagnostic& other) const
    {
        return line == other.line && column == other.column && byte_column == other.byte_column &&
               kind == other.kind && message == other.message;
    }
};

std::string diagnostic_text(const diagnostic& d)
{
    return std::to_string(d.line) + ":" + std::to_string(d.column) + ": warning: " + d.message +
           " [" + d.kind + "]";
}

std::vector<diagnostic> check_source(const py::object& text)
{
    const std::string source = text_bytes(text);
    py::gil_scoped_release unlocked;
    std::vector<diagnostic> found;
    check_basic_source(source, [&](const check_warning& w) {
        found.push_back(
            {w.line, w.display_column, w.column, std::string(check_kind_name(w.kind)), w.message});
    });
    return found;
}

basic_listing listing_of(const py::buffer& image)
{
    const std::vector<std::uint8_t> bytes = bytes_of(image);
    py::gil_scoped_release unlocked;
    return list_basic_program(bytes.data(), bytes.size());
}

// ---- Making tapes ---------------------------------------------------------

// A number field as cassmak reads its option: an int as its decimal digits,
// a text as typed.
std::string field_text(const py::handle& value)
{
    if (PyLong_Check(value.ptr()))
        return py::str(value);
    return text_bytes(value);
}

[[noreturn]] void raise_cassmak(int status, const std::string& text, long low = 0, long high = 0)
{
    raise_error(-status, status_message(status, text, low, high));
}

void check_payload_size(std::size_t size, const std::string& label, int low, int high)
{
    if (size < static_cast<std::size_t>(low) || size > static_cast<std::size_t>(high))
        raise_cassmak(status_input_size, label, low, high);
}

py::bytes make_file(const py::buffer& data, const py::object& name, const py::object& number,
                    const py::object& type, const py::object& address)
{
    // In cassmak's order of options: -m, -n, -t, -a; then the input.
    std::string name_value = text_bytes(name);
    name_value.resize(std::strlen(name_value.c_str()));
    if (name_value.size() > name_width)
        raise_cassmak(status_bad_name, "-m");
    const long file_number = parse_number(field_text(number).c_str());
    if (file_number < 0 || file_number > 99)
        raise_cassmak(status_bad_number, "-n");
    const std::string type_value = text_bytes(type);
    const auto file_type =
        static_cast<signed char>(std::strlen(type_value.c_str()) <= 1 ? type_value.c_str()[0] : 0);
    if (file_type <= 0x20 || file_type == 0x7F)
        raise_cassmak(status_bad_type, "-t");
    const long start = parse_number(field_text(address).c_str());
    if (start < 0 || start > 0xFFFF)
        raise_cassmak(status_bad_address, "-a");
    std::vector<std::uint8_t> payload = bytes_of(data);
    check_payload_size(payload.size(), "<data>", binary_min, binary_max);
    output_image image;
    {
        py::gil_scoped_release unlocked;
        name_value.resize(name_width, ' ');
        put_tape_file(image, payload.data(), static_cast<int>(payload.size()),
                      static_cast<char>(file_type), static_cast<int>(file_number), name_value,
                      static_cast<int>(start));
    }
    return bytes_out(image.data(), image.size());
}

py::bytes make_headless(const py::buffer& data)
{
    std::vector<std::uint8_t> payload = bytes_of(data);
    check_payload_size(payload.size(), "<data>", binary_min, binary_max);
    output_image image;
    put_headless_block(image, payload.data(), static_cast<int>(payload.size()));
    return bytes_out(image.data(), image.size());
}

struct line_warning {
    std::int32_t line;
    std::string text;
};

std::pair<py::bytes, std::vector<line_warning>> import_program(const py::object& text,
                                                               const std::string& name)
{
    const std::string source = text_bytes(text);
    check_payload_size(source.size(), name, basic_source_min, basic_source_max);
    std::vector<std::uint8_t> buffer(payload_capacity);
    basic_import result;
    {
        py::gil_scoped_release unlocked;
        result = import_basic(buffer.data(), payload_capacity, source);
    }
    if (result.length == import_too_large)
        raise_cassmak(status_basic_too_large, name, 0, result.limit);
    std::vector<line_warning> warnings;
    for (const import_line& line : result.lines) {
        if (line.long_line)
            warnings.push_back({line.number, "Line is long. Possible problem!"});
        if (line.wrong_order)
            warnings.push_back({line.number, "Wrong order of line. Last line " +
                                                 std::to_string(line.previous_number)});
        if (line.short_line)
            warnings.push_back({line.number, "Line is short. Possible problem!"});
    }
    return {bytes_out(buffer.data(), static_cast<std::size_t>(result.length)), warnings};
}

} // namespace

PYBIND11_MODULE(cassmak, module)
{
    module.doc() = "Tape images of an 8-bit computer with a 16-bit address space, made, read\n"
                   "and changed byte for byte as the cassmak and casstool programs do.\n"
                   "\n"
                   "Bytes in, bytes out: images, payloads and names are bytes; a name also has\n"
                   "a str view where it decodes. A failure raises cassmak.Error, whose text is\n"
                   "the message the program would print and whose status is its exit status.";
    module.attr("__version__") = CASSMAK_VERSION;

    error_type = PyErr_NewExceptionWithDoc(
        "cassmak.Error",
        "A refused or failed call; str(error) is the program's message, error.status\n"
        "the exit status the program gives for it (cassmak's code for make_file,\n"
        "make_headless and import_basic; casstool's 2 for the rest) and\n"
        "error.message the message again.",
        PyExc_Exception, nullptr);
    module.add_object("Error", py::handle(error_type));

    py::class_<py_entry>(module, "Entry", "One entry of an image, as `casstool list` shows it.")
        .def_property_readonly(
            "entry", [](const py_entry& e) { return e.get().entry; },
            "The 1-based position in the image, as the programs number it.")
        .def_property_readonly(
            "offset", [](const py_entry& e) { return e.get().offset; },
            "The offset of the entry's first length field in the image.")
        .def_property_readonly(
            "span", [](const py_entry& e) { return e.get().span; },
            "The bytes of the image the entry takes, length fields included.")
        .def_property_readonly(
            "kind", [](const py_entry& e) { return entry_kind_name(e.get().kind); },
            "'file', 'headless' or 'truncated'.")
        .def_property_readonly(
            "length", [](const py_entry& e) { return e.get().length; },
            "The payload length: a file's header field + 1, a headless block's\n"
            "length, or the bytes of a truncated tail.")
        .def_property_readonly(
            "number", [](const py_entry& e) { return optional_int(e.file(), e.get().number); },
            "A file's number (0 to 255); None for any other entry.")
        .def_property_readonly(
            "type",
            [](const py_entry& e) {
                return e.file() ? py::object(bytes_out(&e.get().type, 1)) : py::object(py::none());
            },
            "A file's type, one byte; None for any other entry.")
        .def_property_readonly(
            "address", [](const py_entry& e) { return optional_int(e.file(), e.get().address); },
            "A file's start address; None for any other entry.")
        .def_property_readonly(
            "name",
            [](const py_entry& e) {
                return e.file() ? py::object(bytes_out(e.get().name.data(), e.get().name.size()))
                                : py::object(py::none());
            },
            "A file's 8-byte name, padding included; None for any other entry.")
        .def_property_readonly("name_str", name_str,
                               "The name without its trailing spaces, where it decodes as UTF-8.")
        .def_property_readonly(
            "header_checksum",
            [](const py_entry& e) {
                return e.file() ? py::object(py::bool_(e.get().header_checksum_good))
                                : py::object(py::none());
            },
            "Whether a file's header checksum is good; None for any other entry.")
        .def_property_readonly(
            "data_checksum",
            [](const py_entry& e) {
                const data_checksum_state state = e.get().data_checksum;
                if (!e.file() || state == data_checksum_state::absent)
                    return py::object(py::none());
                return py::object(py::bool_(state == data_checksum_state::good));
            },
            "Whether a file's data checksum is good; None without a data block.")
        .def_property_readonly(
            "checksums", [](const py_entry& e) { return checksum_state_name(e.get()); },
            "The checksums in the table's words: 'good', 'data bad', ..., '-'.")
        .def_property_readonly(
            "problem",
            [](const py_entry& e) {
                return entry_damaged(e.get()) ? py::object(text_of(e.get().problem))
                                              : py::object(py::none());
            },
            "What is wrong with the entry; None when it is sound.")
        .def_property_readonly(
            "damaged", [](const py_entry& e) { return entry_damaged(e.get()); },
            "Whether the entry has a problem.")
        .def_property_readonly(
            "payload",
            [](const py_entry& e) {
                return bytes_out(e.data->bytes.data() + e.get().payload_offset,
                                 e.get().payload_size);
            },
            "The bytes `casstool extract --force` writes for the entry.")
        .def("__repr__", [](const py_entry& e) {
            const tape_entry& entry = e.get();
            std::string text = "<cassmak.Entry " + std::to_string(entry.entry) + ": " +
                               entry_kind_name(entry.kind) + ", " + std::to_string(entry.length) +
                               " bytes";
            if (entry_damaged(entry))
                text += ", " + entry.problem;
            return text_of(text + ">");
        });

    py::class_<py_tape>(module, "Tape",
                        "A tape image and its entries. Edits give a new Tape and leave this one\n"
                        "as it is; every entry an edit does not touch keeps its bytes.")
        .def(py::init([](const py::buffer& data, const std::string& label) {
                 std::vector<std::uint8_t> bytes = bytes_of(data);
                 py::gil_scoped_release unlocked;
                 return py_tape{read_data(std::move(bytes)), label};
             }),
             py::arg("data") = py::bytes(), py::arg("label") = "<bytes>",
             "A tape of the image `data`; `label` names it in messages.")
        .def_static("read", read_tape, py::arg("source"), py::arg("label") = py::none(),
                    "Reads an image from a file (a path) or from bytes. A file is\n"
                    "named in messages by its path, as casstool names it.")
        .def_property_readonly(
            "label", [](const py_tape& t) { return text_of(t.label); },
            "How messages name the image: its path, or the label given.")
        .def_property_readonly(
            "size", [](const py_tape& t) { return t.data->bytes.size(); },
            "The image's length in bytes.")
        .def_property_readonly(
            "damaged",
            [](const py_tape& t) {
                for (const tape_entry& entry : t.data->entries)
                    if (entry_damaged(entry))
                        return true;
                return false;
            },
            "Whether any entry is damaged (casstool list's exit status 1).")
        .def(
            "to_bytes",
            [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); },
            "The image's bytes.")
        .def("__bytes__",
             [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); })
        .def(
            "__len__", [](const py_tape& t) { return t.data->entries.size(); },
            "The number of entries.")
        .def("__getitem__",
             [](const py_tape& t, Py_ssize_t index) {
                 const auto count = static_cast<Py_ssize_t>(t.data->entries.size());
                 if (index < 0)
                     index += count;
                 if (index < 0 || index >= count)
                     throw py::index_error("entry index out of range");
                 return py_entry{t.data, static_cast<std::size_t>(index)};
             })
        .def("__getitem__",
             [](const py_tape& t, const py::slice& slice) {
                 std::size_t start = 0, stop = 0, step = 0, length = 0;
                 if (!slice.compute(t.data->entries.size(), &start, &stop, &step, &length))
                     throw py::error_already_set();
                 std::vector<py_entry> entries;
                 for (std::size_t i = 0; i < length; ++i, start += step)
                     entries.push_back({t.data, start});
                 return entries;
             })
        .def("__iter__",
             [](const py_tape& t) {
                 std::vector<py_entry> entries;
                 entries.reserve(t.data->entries.size());
                 for (std::size_t i = 0; i < t.data->entries.size(); ++i)
                     entries.push_back({t.data, i});
                 return py::iter(py::cast(std::move(entries)));
             })
        .def("__eq__",
             [](const py_tape& a, const py::object& other) {
                 if (!py::isinstance<py_tape>(other))
                     return false;
                 return a.data->bytes == other.cast<const py_tape&>().data->bytes;
             })
        .def("__repr__",
             [](const py_tape& t) {
                 return text_of("<cassmak.Tape " + t.label + ": " +
                                std::to_string(t.data->entries.size()) + " entries, " +
                                std::to_string(t.data->bytes.size()) + " bytes>");
             })
        .def("save", save_tape, py::arg("path"), py::arg("create") = true,
             "Replaces the file at `path` with this image as casstool's changing\n"
             "commands do: under the lock cassmak -append takes, whole or not at\n"
             "all, keeping the file's permissions, owner and links. Without\n"
             "create, a missing file is an error.");

    py::class_<diagnostic>(module, "Diagnostic",
                           "One warning of check_source, as `casstool check` prints it.")
        .def_readonly("line", &diagnostic::line, "The physical line, from 1.")
        .def_readonly("column", &diagnostic::column,
                      "The column as casstool prints it, counting characters as GCC does.")
        .def_readonly("byte_column", &diagnostic::byte_column, "The byte column, from 1.")
        .def_property_readonly(
            "kind", [](const diagnostic& d) { return text_of(d.kind); },
            "The kind's name, as -W no-KIND spells it ('no-number', ...).")
        .def_property_readonly("message", [](const diagnostic& d) { return text_of(d.message); })
        .def(
            "__str__", [](const diagnostic& d) { return text_of(diagnostic_text(d)); },
            "'LINE:COLUMN: warning: MESSAGE [KIND]'.")
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

    module.def("make_file", make_file, py::arg("data"), py::arg("name") = py::bytes(),
               py::arg("number") = 0, py::arg("type") = py::bytes("?"), py::arg("address") = 0,
               "`cassmak -m NAME -n NUMBER -t TYPE -a ADDRESS`: a header block and\n"
               "a data block holding `data` (1 to 65,533 bytes). The name is at most 8\n"
               "bytes, stored upper case and padded; an empty name stays blank.");
    module.def("make_headless", make_headless, py::arg("data"),
               "`cassmak -hless`: `data` (1 to 65,533 bytes) as a headless block.");
    module.def("import_basic", import_program, py::arg("text"), py::arg("name") = "<text>",
               "`cassmak -b`: the BASIC source (5 to 65,535 bytes; a str is taken\n"
               "as UTF-8) tokenized into the program image, and cassmak's warnings for\n"
               "its lines. `name` names the source in messages. Store the image with\n"
               "make_file(image, type='>', address=0x2401).");
    module.def("check_source", check_source, py::arg("text"),
               "`casstool check`: what cassmak -b will store differently from what\n"
               "the source plainly means, in the order of the source.");
    module.def(
        "list_basic", [](const py::buffer& image) { return text_of(listing_of(image).text); },
        py::arg("image"),
        "`casstool basic`: the program image as source text that import_basic\n"
        "turns into the same image. Bytes that are not UTF-8 come back as\n"
        "surrogate escapes, so that import_basic gets them back unchanged.");
    module.def(
        "list_basic_warnings",
        [](const py::buffer& image) {
            std::vector<py::str> warnings;
            for (const std::string& warning : listing_of(image).warnings)
                warnings.push_back(text_of(warning));
            return warnings;
        },
        py::arg("image"),
        "The lines `casstool basic` warns about on standard error (without\n"
        "the image and entry in front): what will not come back identically.");
}
