// The BASIC calls: check_source with its Diagnostic, list_basic.
#include "module.h"

#include <pybind11/operators.h>

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

} // namespace

} // namespace cassmak_python

template <>
class pybind11::detail::type_caster<cassmak_python::diagnostic>
    : public filled_caster<cassmak_python::diagnostic> {
};

namespace cassmak_python {

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

} // namespace cassmak_python
