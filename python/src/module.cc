// The Python module: the library's calls with Python's types. Bytes stay
// bytes; every failure becomes a cassmak.Error that carries the message and
// the exit status the programs give for it; the long calls let other Python
// threads run while they work. Here its doc and its parts, each bound by the
// file of its concern.
#include "listing.h"
#include "module.h"

PYBIND11_MODULE(_cassmak, module)
{
    using namespace cassmak_python;
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

    bind_errors(module);
    bind_entries(module);
    bind_tape(module);
    bind_make(module);
    bind_basic(module);
    add_listing(module);
}
