// cassmak.Tape: an image read, indexed, saved and changed as casstool's
// changing commands change it.
#include "module.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cassmak_python {

std::shared_ptr<const tape_data> read_data(std::vector<std::uint8_t>&& bytes)
{
    auto data = std::make_shared<tape_data>();
    data->bytes = std::move(bytes);
    data->index = cassmak::index_tape(data->bytes.data(), data->bytes.size());
    return data;
}

std::vector<cassmak::entry> entries_of(const tape_data& data, std::size_t first, std::size_t count)
{
    cassmak::tape_contents contents =
        cassmak::read_entries(data.bytes.data(), data.bytes.size(), data.index, first, count);
    check_memory(contents.status, contents.message);
    return std::move(contents.entries);
}

bool damaged(const tape_data& data)
{
    if (!data.any_damaged) {
        // A few thousand at a time: a long walk holds little, and each batch
        // lets other threads run.
        constexpr std::size_t batch = 4096;
        bool found = false;
        for (std::size_t first = 0; !found && first < data.count(); first += batch) {
            cassmak::tape_contents contents;
            {
                py::gil_scoped_release unlocked;
                contents = cassmak::read_entries(data.bytes.data(), data.bytes.size(), data.index,
                                                 first, batch);
            }
            check_memory(contents.status, contents.message);
            found = contents.status == 1;
        }
        data.any_damaged = found;
    }
    return *data.any_damaged;
}

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

py_tape tape_renumber(const py_tape& tape, const py::int_& entry, const py::int_& start,
                      const py::int_& step)
{
    const std::string at = entry_digits(entry);
    const std::uint32_t first = setting_of(start);
    const std::uint32_t by = setting_of(step);
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::renumber_typed_entry(tape.data->bytes, at, first, by, tape.label);
    }
    result.message = setting_as_given(std::move(result.message), start, step);
    return edited(tape, std::move(result));
}

// Each file a Tape, or an image as make_file makes it, taken whole: an
// image with a damaged entry could end in a tail that swallows what follows.
py_tape tape_add(const py_tape& tape, const py::args& files, bool force)
{
    if (files.empty())
        raise_value("add() needs at least one file", 2, "no file given");
    std::vector<std::uint8_t> made;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const py::handle file = files[i];
        const std::string label = "file " + std::to_string(i + 1);
        const py_tape read = py::isinstance<py_tape>(file) ? file.cast<const py_tape&>()
                                                           : make_tape(bytes_of(file), label);
        if (damaged(*read.data)) {
            const std::string words = label + " holds a damaged entry; add takes whole entries, "
                                              "as make_file and make_headless make them";
            raise_value(words, 2, words);
        }
        made.insert(made.end(), read.data->bytes.begin(), read.data->bytes.end());
    }
    cassmak::change_result result;
    {
        py::gil_scoped_release unlocked;
        result = cassmak::add_entries(tape.data->bytes, made, {}, force, tape.label);
    }
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

} // namespace

void bind_tape(py::module_& module)
{
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
            "damaged", [](const py_tape& t) { return damaged(*t.data); },
            "Whether any entry is damaged (casstool list's exit status 1).")
        .def(
            "to_bytes",
            [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); },
            "to_bytes(self)\n--\n\nThe image's bytes.")
        .def(
            "__bytes__",
            [](const py_tape& t) { return bytes_out(t.data->bytes.data(), t.data->bytes.size()); },
            "__bytes__(self)\n--\n\nThe image's bytes.")
        .def(
            "__len__", [](const py_tape& t) { return t.data->count(); },
            "__len__(self)\n--\n\nThe number of entries.")
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
            "__getitem__(self, index, /)\n--\n\n"
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
            "__iter__(self)\n--\n\nThe entries in image order, read as the loop comes to them.")
        .def(
            "__eq__",
            [](const py_tape& a, const py::object& other) {
                if (!py::isinstance<py_tape>(other))
                    return false;
                return a.data->bytes == other.cast<const py_tape&>().data->bytes;
            },
            "__eq__(self, other, /)\n--\n\nTapes are equal when their bytes are.")
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
             "save(self, path, create=True)\n--\n\n"
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
             "remove(self, *entries)\n--\n\n"
             "`casstool rm`: the entries taken out, at least one: entry numbers\n"
             "(from 1) as ints, or as casstool takes them, texts with ranges 'A-B'\n"
             "and 'all'.")
        .def("retag", tape_retag, py::arg("entry"), py::kw_only(), py::arg("name") = py::none(),
             py::arg("number") = py::none(), py::arg("type") = py::none(),
             py::arg("address") = py::none(), py::arg("force") = false,
             "retag(self, entry, *, name=None, number=None, type=None, address=None, "
             "force=False)\n--\n\n"
             "`casstool set`: the header of file `entry` (a number from 1)\n"
             "rewritten with a new checksum. Numbers are ints or the texts casstool\n"
             "takes ('0x4000'); a bad header checksum is rewritten only with force.")
        .def("move", tape_move, py::arg("entry"), py::arg("position"),
             "move(self, entry, position)\n--\n\n"
             "`casstool move`: entry `entry` moved to become entry `position`\n"
             "(both numbers from 1).")
        .def("insert", tape_insert, py::arg("source"), py::arg("at") = py::none(),
             py::arg("force") = false,
             "insert(self, source, *entries, at=None, force=False)\n--\n\n"
             "`casstool copy SOURCE ENTRY... --to THIS [--at AT]`: entries of\n"
             "`source` (all without any given; as remove takes them) copied in\n"
             "before entry `at` (a number from 1; at the end without it); a\n"
             "truncated tail only with force.")
        .def("renumber", tape_renumber, py::arg("entry"), py::arg("start") = 10,
             py::arg("step") = 10,
             "renumber(self, entry, start=10, step=10)\n--\n\n"
             "`casstool renum IMAGE ENTRY`: the BASIC program of file `entry` (a\n"
             "number from 1) renumbered as renumber_source numbers a source, its\n"
             "links and checksums made again. A reference to a missing line stays\n"
             "as written (check_source on list_basic of the payload names it).")
        .def("add", tape_add, py::arg("force") = false,
             "add(self, *files, force=False)\n--\n\n"
             "`casstool add`: the entries of each file (an image as make_file,\n"
             "make_headless or import_basic and make_file give it, or a Tape) put\n"
             "after the last entry, at least one file. A tape that ends in a\n"
             "truncated tail or a file without data is refused unless force, since\n"
             "the new entries would be read as its part.")
        .def("split", tape_split, py::arg("force") = false,
             "split(self, force=False)\n--\n\n"
             "`casstool split`: each entry as a tape of its own, with the file\n"
             "name split gives it ('01-GAME.kst'); a truncated tail only with\n"
             "force.");

    module.def("join", tape_join, py::arg("tapes"), py::kw_only(), py::arg("force") = false,
               py::arg("label") = "<joined>",
               "join(tapes, *, force=False, label='<joined>')\n--\n\n"
               "`casstool join`: the entries of the tapes back to back; a truncated\n"
               "tail only with force. `label` names the result in messages.");
}

} // namespace cassmak_python
