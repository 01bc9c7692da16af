// The BASIC calls: check_source with its Diagnostic, list_basic, and
// renumbering a source and finding its line references.
#include "module.h"

#include <pybind11/operators.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace cassmak_python {

namespace {

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

struct reference {
    cassmak::source_reference found;
    bool operator==(const reference& other) const
    {
        const cassmak::source_reference& a = found;
        const cassmak::source_reference& b = other.found;
        return a.line == b.line && a.column == b.column && a.written == b.written &&
               a.label == b.label;
    }
};

} // namespace

} // namespace cassmak_python

template <>
class pybind11::detail::type_caster<cassmak_python::diagnostic>
    : public filled_caster<cassmak_python::diagnostic> {
};

template <>
class pybind11::detail::type_caster<cassmak_python::reference>
    : public filled_caster<cassmak_python::reference> {
};

namespace cassmak_python {

namespace {

// A start or step beyond what the library takes is given to it as the
// largest number, which it refuses, and named in its words as given.
constexpr std::uint32_t beyond = std::numeric_limits<std::uint32_t>::max();

} // namespace

std::uint32_t setting_of(const py::int_& value)
{
    const long long number = PyLong_AsLongLong(value.ptr());
    if (number == -1 && PyErr_Occurred())
        PyErr_Clear();
    else if (number >= 0 && number < beyond)
        return static_cast<std::uint32_t>(number);
    return beyond;
}

std::string setting_as_given(std::string message, const py::int_& start, const py::int_& step)
{
    const std::string shown = "not " + std::to_string(beyond);
    // The refusal names the start where both are out of range; the path in
    // front of it is the caller's.
    const std::size_t at = message.rfind(shown);
    if (at != std::string::npos) {
        const py::int_& given = setting_of(start) == beyond ? start : step;
        message.replace(at, shown.size(), "not " + std::string(py::str(py::handle(given))));
    }
    return message;
}

namespace {

std::string diagnostic_text(const diagnostic& d)
{
    std::string line = cassmak::format_diagnostic("", d.found);
    // Without the source in front (":") and the line end behind.
    return line.substr(1, line.size() - 2);
}

std::vector<diagnostic> diagnostics_of(std::vector<cassmak::diagnostic>& found)
{
    std::vector<diagnostic> made;
    made.reserve(found.size());
    for (cassmak::diagnostic& d : found)
        made.push_back({std::move(d)});
    return made;
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
    return diagnostics_of(result.diagnostics);
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

using numbering = cassmak::renumbered_source (*)(std::string_view, std::uint32_t, std::uint32_t);

// renumber_source or number_source: the text and the references to missing
// lines, or BadValueError naming each label error, or the numbers refused.
std::pair<py::str, std::vector<diagnostic>> numbered(numbering how, const py::object& text,
                                                     const py::int_& start, const py::int_& step)
{
    const std::string source = text_bytes(text);
    const std::uint32_t first = setting_of(start);
    const std::uint32_t by = setting_of(step);
    cassmak::renumbered_source result;
    {
        py::gil_scoped_release unlocked;
        result = how(source, first, by);
    }
    check_memory(result.status, result.message);
    if (result.status > 1) {
        const std::string message = setting_as_given(result.message, start, step);
        std::string words = message;
        for (const cassmak::diagnostic& error : result.errors) {
            // As casstool renum words it, without the source in front.
            const std::string line = cassmak::format_diagnostic("", error);
            const std::string warning = ": warning: ";
            const std::size_t at = line.find(warning);
            words += "\n" + line.substr(1, at - 1) + ": error: " +
                     line.substr(at + warning.size(), line.size() - at - warning.size() - 1);
        }
        raise_value(words, result.status, "<text>: " + message + "; nothing written");
    }
    return {text_of(result.text), diagnostics_of(result.warnings)};
}

std::vector<reference> references_of(const py::object& text)
{
    const std::string source = text_bytes(text);
    std::vector<cassmak::source_reference> found;
    {
        py::gil_scoped_release unlocked;
        found = cassmak::source_references(source);
    }
    std::vector<reference> made;
    made.reserve(found.size());
    for (cassmak::source_reference& r : found)
        made.push_back({std::move(r)});
    return made;
}

} // namespace

void bind_basic(py::module_& module)
{
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
            "__str__(self)\n--\n\n'LINE:COLUMN: warning: MESSAGE [KIND]'.")
        .def("__repr__",
             [](const diagnostic& d) {
                 return text_of("<cassmak.Diagnostic " + diagnostic_text(d) + ">");
             })
        .def(py::self == py::self);

    py::class_<reference>(module, "Reference",
                          "A line reference of a source, as renumber_source rewrites it.")
        .def_property_readonly(
            "line", [](const reference& r) { return r.found.line; }, "The physical line, from 1.")
        .def_property_readonly(
            "byte_column", [](const reference& r) { return r.found.column; },
            "The byte column where it is written, from 1.")
        .def_property_readonly(
            "written", [](const reference& r) { return text_of(r.found.written); },
            "What is written there: digits, or '@name' for a label.")
        .def_property_readonly(
            "label", [](const reference& r) { return r.found.label; }, "Whether it is a label.")
        .def("__repr__",
             [](const reference& r) {
                 return text_of("<cassmak.Reference " + std::to_string(r.found.line) + ":" +
                                std::to_string(r.found.column) + " " + r.found.written + ">");
             })
        .def(py::self == py::self);

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

    module.def(
        "renumber_source",
        [](const py::object& text, const py::int_& start, const py::int_& step) {
            return numbered(cassmak::renumber_source, text, start, step);
        },
        py::arg("text"), py::arg("start") = 10, py::arg("step") = 10,
        "renumber_source(text, start=10, step=10)\n--\n\n"
        "`casstool renum`: the source with its lines numbered from `start` by\n"
        "`step`, every line reference rewritten to the new number of the line it\n"
        "named, labels ('@name:' to define, '@name' to refer) replaced by numbers,\n"
        "every other byte kept; and a Diagnostic (kind 'missing-target') for each\n"
        "reference to a line that is not there, left as written. BadValueError for\n"
        "a label undefined or defined twice (each named) or numbers past 65535.");
    module.def(
        "number_source",
        [](const py::object& text, const py::int_& start, const py::int_& step) {
            return numbered(cassmak::number_source, text, start, step);
        },
        py::arg("text"), py::arg("start") = 10, py::arg("step") = 10,
        "number_source(text, start=10, step=10)\n--\n\n"
        "What `casstool add --basic` packs: a source with labels or unnumbered\n"
        "lines numbered as renumber_source numbers it; any other comes back as\n"
        "it was, its numbers kept.");
    module.def("source_references", references_of, py::arg("text"),
               "source_references(text)\n--\n\n"
               "Every line reference of the source (GOTO, GOSUB, THEN, ON ... GOTO\n"
               "lists, LIST ranges, ...), in order, as renumber_source finds them.");
}

} // namespace cassmak_python
