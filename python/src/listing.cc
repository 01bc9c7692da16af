// `casstool list` of an image, for `python -m cassmak list`: the library's
// table or JSON lines, as bytes, so that the command prints what casstool
// prints, byte for byte. Private to the package (cassmak._cassmak._list).
#include "listing.h"

#include "cassmak/read.h"

#include <pybind11/stl.h>

#include <cstdint>
#include <string>
#include <tuple>

namespace py = pybind11;

namespace {

std::tuple<int, py::bytes, py::bytes> list_image(const py::bytes& image, const py::bytes& label,
                                                 bool json)
{
    const std::string bytes = image;
    const std::string path = label;
    cassmak::text_result result;
    {
        py::gil_scoped_release unlocked;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        result = json ? cassmak::list_json(data, bytes.size(), path)
                      : cassmak::list_table(data, bytes.size(), path);
    }
    return {result.status, py::bytes(result.text), py::bytes(result.message)};
}

} // namespace

void add_listing(py::module_& module)
{
    module.def("_list", list_image, py::arg("image"), py::arg("label"), py::arg("json") = false,
               "`casstool list [--json]` of `image` named `label`: (status, text, message).");
}
