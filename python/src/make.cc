// make_file, make_headless and import_basic: tapes made as cassmak makes
// them, its refusals in Python's words.
#include "module.h"

#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace cassmak_python {

namespace {

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

} // namespace

} // namespace cassmak_python

template <>
class pybind11::detail::type_caster<cassmak_python::line_warning>
    : public filled_caster<cassmak_python::line_warning> {
};

namespace cassmak_python {

void bind_make(py::module_& module)
{
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
}

} // namespace cassmak_python
