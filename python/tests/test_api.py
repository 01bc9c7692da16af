"""The module's face: the stubs name what the module has, help() reads, the
example packs a folder as cassmak would."""

import ast
import inspect
import os
import pydoc
import subprocess
import sys

import cassmak

from inputs import random_payload, rng_for

HERE = os.path.dirname(os.path.abspath(__file__))
STUBS = os.path.join(os.path.dirname(cassmak.__file__), "__init__.pyi")
EXAMPLE = os.path.join(HERE, "..", "examples", "pack_folder.py")


def stub_tree():
    return ast.parse(open(STUBS).read())


def stub_names():
    """{name: set of members} for the classes of the stubs, None for the rest."""
    names = {}
    for node in stub_tree().body:
        if isinstance(node, ast.ClassDef) and node.name.startswith("_"):
            continue  # the stubs' own helpers (the metaclass)
        if isinstance(node, ast.ClassDef):
            names[node.name] = {
                n.name if isinstance(n, ast.FunctionDef) else n.target.id
                for n in node.body
                if isinstance(n, (ast.FunctionDef, ast.AnnAssign))
            }
        elif isinstance(node, ast.FunctionDef):
            names[node.name] = None
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = None
    return names


def stub_docs():
    """(qualified name, docstring, parameters or None) of every documented
    function, method, property and class of the stubs; a parameter is
    (name, kind, default as source text or None), self left out."""
    found = []

    def params(node):
        a = node.args
        kinds = [(p, "POSITIONAL_ONLY") for p in a.posonlyargs] + [
            (p, "POSITIONAL_OR_KEYWORD") for p in a.args]
        defaults = [None] * (len(kinds) - len(a.defaults)) + a.defaults
        out = [(p.arg, kind, d and ast.unparse(d)) for (p, kind), d in zip(kinds, defaults)]
        if a.vararg:
            out.append((a.vararg.arg, "VAR_POSITIONAL", None))
        out += [(p.arg, "KEYWORD_ONLY", d and ast.unparse(d))
                for p, d in zip(a.kwonlyargs, a.kw_defaults)]
        return [p for p in out if p[0] != "self"]

    def walk(body, prefix):
        for node in body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                if isinstance(node, ast.ClassDef) and node.name.startswith("_"):
                    continue  # the stubs' own helpers (the metaclass)
                name = prefix + node.name
                doc = ast.get_docstring(node)
                is_property = any(getattr(d, "id", None) == "property"
                                  for d in getattr(node, "decorator_list", []))
                is_overload = any(getattr(d, "id", None) == "overload"
                                  for d in node.decorator_list)
                if doc is not None:
                    plain = isinstance(node, ast.ClassDef) or is_property or is_overload
                    found.append((name, doc, None if plain else params(node)))
                if isinstance(node, ast.ClassDef):
                    walk(node.body, name + ".")
    walk(stub_tree().body, "")
    return found


def module_object(name):
    value = cassmak
    for part in name.split("."):
        value = getattr(value, part)
    return value


def test_the_stubs_name_what_the_module_has():
    stubs = stub_names()
    public = {n for n in dir(cassmak) if not n.startswith("_")} | {"__version__"}
    assert set(stubs) == public
    errors = {n for n in public if isinstance(getattr(cassmak, n), type)
              and issubclass(getattr(cassmak, n), BaseException)}
    for name, members in stubs.items():
        if members is None or name in errors:
            continue
        value = getattr(cassmak, name)
        have = {m for m in dir(value) if not m.startswith("_")}
        assert {m for m in members if not m.startswith("_")} == have, name
        for member in members:
            assert hasattr(value, member), (name, member)
    # An error's fields are its instance's.
    try:
        cassmak.make_headless(b"")
    except cassmak.Error as error:
        assert {"status", "message", "tool_message"} == stubs["Error"]
        assert isinstance(error.status, int) and error.message == error.tool_message


def test_the_stubs_say_what_the_module_says():
    # Each docstring is written in the module and again in the stubs: the
    # two must agree, and so must each call's parameters.
    checked = 0
    for name, doc, params in stub_docs():
        value = module_object(name)
        assert inspect.cleandoc(value.__doc__ or "") == doc, name
        checked += 1
        if params is None:
            continue
        signature = inspect.signature(value)
        given = [(p.name, p.kind.name, None if p.default is p.empty else repr(p.default))
                 for p in signature.parameters.values() if p.name != "self"]
        assert given == params, name
    assert checked > 50


def test_help_reads():
    text = pydoc.render_doc(cassmak, renderer=pydoc.plaintext)
    for name in ("Tape", "Entry", "Error", "make_file", "import_basic", "check_source", "join"):
        doc = getattr(cassmak, name).__doc__
        assert doc and doc.strip().splitlines()[0].split("(")[0].strip() in text, name
    assert issubclass(cassmak.Error, Exception)
    assert cassmak.__version__.count(".") >= 1


def test_the_example_packs_a_folder_as_cassmak_does(tools, tmp_path):
    folder = tmp_path / "in"
    folder.mkdir()
    rng = rng_for("example", 0)
    for i in range(5):
        (folder / f"prog{i}.bin").write_bytes(random_payload(rng))
    (folder / "game.bas").write_bytes(b"10 PRINT \"HI\"\n20 GOTO 10\n")
    run = subprocess.run([sys.executable, EXAMPLE, folder, tmp_path / "tape.kst"],
                         capture_output=True, check=False)
    assert run.returncode == 0, run.stderr
    expected = tmp_path / "expected.kst"
    for number, name in enumerate(sorted(os.listdir(folder)), start=1):
        options = ["-b"] if name.endswith(".bas") else []
        made = tools.cassmak(*options, "-append", "-n", str(number), "-m",
                             os.path.splitext(name)[0][:8], "-o", expected, folder / name)
        assert made.status == 0
    assert (tmp_path / "tape.kst").read_bytes() == expected.read_bytes()



# Each call with the first line of what it raises. `tape` is a sound tape,
# `blank` one that __new__ made and __init__ never filled.
UNFILLED = "TypeError: cassmak._cassmak.Tape object was never initialized"
REFUSED_LIST = ("TypeError: join(): incompatible function arguments. The following argument "
                "types are supported:")
STRANGE_CALLS = [
    ("cassmak.join([tape, None])", REFUSED_LIST),
    ("cassmak.join([None])", REFUSED_LIST),
    ("cassmak.join([tape, blank])", UNFILLED),
    ("len(blank)", UNFILLED),
    ("repr(blank)", UNFILLED),
    ("list(blank)", UNFILLED),
    ("blank[0]", UNFILLED),
    ("blank[:]", UNFILLED),
    ("blank.to_bytes()", UNFILLED),
    ("bytes(blank)", UNFILLED),
    ("blank.label", UNFILLED),
    ("blank.size", UNFILLED),
    ("blank.damaged", UNFILLED),
    ("blank == tape", UNFILLED),
    ("tape == blank", UNFILLED),
    ("blank.save(path)", UNFILLED),
    ("blank.remove(1)", UNFILLED),
    ("blank.retag(1, number=2)", UNFILLED),
    ("blank.move(1, 1)", UNFILLED),
    ("blank.insert(tape)", UNFILLED),
    ("tape.insert(blank)", UNFILLED),
    ("blank.split()", UNFILLED),
    ("str(cassmak.Diagnostic.__new__(cassmak.Diagnostic))",
     "TypeError: cassmak._cassmak.Diagnostic object was never initialized"),
    ("cassmak.Diagnostic.__new__(cassmak.Diagnostic).kind",
     "TypeError: cassmak._cassmak.Diagnostic object was never initialized"),
    ("cassmak.LineWarning.__new__(cassmak.LineWarning).text",
     "TypeError: cassmak._cassmak.LineWarning object was never initialized"),
    # Filled late, it is a tape like any other.
    ("blank.__init__(tape.to_bytes()); assert blank.to_bytes() == tape.to_bytes()", "done"),
]


def test_no_call_ends_the_interpreter(tmp_path):
    # One interpreter makes every call and prints what each raised; a call
    # that crashes it ends the output there.
    program = "\n".join([
        "import sys, cassmak",
        "tape = cassmak.Tape(cassmak.make_headless(b'x'))",
        "blank = cassmak.Tape.__new__(cassmak.Tape)",
        f"path = {str(tmp_path / 'out.kst')!r}",
        "for call in sys.argv[1:]:",
        "    try:",
        "        exec(call)",
        "        said = 'done'",
        "    except Exception as error:",
        "        said = f'{type(error).__name__}: {error}'",
        "    print(said.splitlines()[0], flush=True)",
    ])
    calls = [call for call, _ in STRANGE_CALLS]
    run = subprocess.run([sys.executable, "-c", program, *calls], capture_output=True,
                         text=True, check=False)
    said = run.stdout.splitlines()
    assert run.returncode == 0, (run.returncode, calls[len(said)], run.stderr)
    assert said == [raised for _, raised in STRANGE_CALLS]
    assert not (tmp_path / "out.kst").exists()
