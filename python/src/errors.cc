// The module's exceptions: cassmak.Error and its subclasses, each also the
// built-in exception a caller would catch, and the words of each failure.
#include "module.h"

#include <cstring>
#include <new>
#include <utility>

namespace cassmak_python {

namespace {

PyObject* error_type = nullptr;
PyObject* file_error_type = nullptr;
PyObject* missing_file_type = nullptr;
PyObject* file_access_type = nullptr;
PyObject* folder_given_type = nullptr;
PyObject* bad_value_type = nullptr;

} // namespace

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

namespace {

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

} // namespace

// A refused value: `words` say it in Python's terms (the parameter, not the
// option), `tool_message` as the program does.
[[noreturn]] void raise_value(const std::string& words, int status, const std::string& tool_message)
{
    py::object error = py::reinterpret_borrow<py::object>(bad_value_type)(text_of(words));
    raise_with(bad_value_type, std::move(error), status, tool_message);
}

namespace {

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

} // namespace

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

namespace {

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

} // namespace

// A change's status and message: nothing for success or for done over
// damage (casstool's 1), BadValueError for a refusal.
void check_change(int status, const std::string& message)
{
    check_memory(status, message);
    if (status != 0 && status != 1)
        raise_value(python_words(message), status, message);
}

namespace {

// A class made for the module: `name` under cassmak, with `bases`.
PyObject* new_error(const char* name, const char* doc, const py::tuple& bases)
{
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases.ptr(), nullptr);
    if (!type)
        throw py::error_already_set();
    return type;
}

} // namespace

void bind_errors(py::module_& module)
{
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
}

} // namespace cassmak_python
