// Python's objects as the library's bytes and texts, and back.
#include "module.h"

namespace cassmak_python {

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

} // namespace cassmak_python
