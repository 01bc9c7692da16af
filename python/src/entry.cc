// cassmak.Entry, a plain object made when an entry is asked for, and the
// iterator that makes them a few at a time.
#include "module.h"

// After Python.h, which pybind11 includes.
#include <structmember.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace cassmak_python {

namespace {

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

} // namespace

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

namespace {

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

} // namespace

// The entry at 0-based `index` (entry number index + 1) of the tape `tape`.
py::object entry_at(const py::handle& tape, std::size_t index)
{
    const py_tape& t = tape.cast<const py_tape&>();
    const std::vector<cassmak::entry> read = entries_of(*t.data, index, 1);
    return py::reinterpret_steal<py::object>(new_entry(tape, read.at(0)));
}

namespace {

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

} // namespace

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

void bind_entries(py::module_& module)
{
    entry_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry_spec));
    if (!entry_type)
        throw py::error_already_set();
    module.add_object("Entry", py::handle(reinterpret_cast<PyObject*>(entry_type)));
    entry_iterator_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry_iterator_spec));
    if (!entry_iterator_type)
        throw py::error_already_set();
}

} // namespace cassmak_python
