"""Reading images: every entry's fields against `casstool list --json`, every
payload against `casstool extract`, on random images with damage."""

import errno
import inspect
import io
import json
import os
import pickle

import cassmak
import pytest

from inputs import block, random_entry, random_image, rng_for


def json_view(entry):
    """The entry as list --json writes it."""
    view = {"entry": entry.entry, "offset": entry.offset, "kind": entry.kind, "length": entry.length}
    if entry.kind == "file":
        view.update(
            number=entry.number,
            type=entry.type.decode("latin-1"),
            address=entry.address,
            name=entry.name.decode("latin-1"),
            header_checksum=entry.header_checksum,
            data_checksum=entry.data_checksum,
        )
    view["problem"] = entry.problem
    return view


def test_entries_are_what_list_shows(tools, rounds, tmp_path):
    for seed in range(rounds):
        image = random_image(rng_for("read", seed))
        path = tmp_path / f"{seed}.kst"
        path.write_bytes(image)
        listed = tools.casstool("list", "--json", path)
        rows = []
        for line in listed.out.splitlines():
            row = json.loads(line)
            assert row.pop("image") == str(path)
            rows.append(row)
        for tape in (cassmak.Tape.read(path), cassmak.Tape.read(image), cassmak.Tape(image)):
            assert tape.to_bytes() == bytes(tape) == image
            assert tape.size == len(image)
            assert [json_view(e) for e in tape] == rows
            assert tape.damaged == (listed.status == 1)
        for entry in tape:
            assert entry.damaged == (entry.problem is not None)
            assert entry.span >= 1
            assert tape[entry.entry - 1].offset == entry.offset
            if entry.kind == "file":
                stripped = entry.name.rstrip(b" ")
                try:
                    assert entry.name_str == stripped.decode("utf-8")
                except UnicodeDecodeError:
                    assert entry.name_str is None
            out = tmp_path / "payload"
            if out.exists():
                out.unlink()
            extracted = tools.casstool("extract", path, str(entry.entry), "--force", "-o", out)
            if extracted.status == 2:
                # A file without its data block has no bytes to give back.
                assert entry.kind == "file" and entry.data_checksum is None
                assert entry.payload == b""
            else:
                assert entry.payload == out.read_bytes()


@pytest.mark.parametrize("name, raised, own, number", [
    ("missing.kst", FileNotFoundError, cassmak.FileMissingError, errno.ENOENT),
    (".", IsADirectoryError, cassmak.FolderGivenError, errno.EISDIR),
])
def test_an_unreadable_path_is_the_oserror_python_raises(tools, tmp_path, name, raised, own,
                                                          number):
    path = tmp_path / name
    listed = tools.casstool("list", path)
    with pytest.raises(raised) as caught:
        cassmak.Tape.read(path)
    error = caught.value
    assert isinstance(error, own) and isinstance(error, cassmak.FileError)
    assert (error.errno, error.strerror, error.filename) == (number, os.strerror(number), str(path))
    assert str(error) == str(raised(number, os.strerror(number), str(path)))
    assert error.tool_message == error.message == listed.message("casstool")
    assert error.status == listed.status == 2


def test_a_tape_reads_and_saves_a_file_object(tmp_path):
    image = random_image(rng_for("file-object", 0), entries=5)
    with open(tmp_path / "a.kst", "wb") as out:
        out.write(image)
    with open(tmp_path / "a.kst", "rb") as source:
        tape = cassmak.Tape.read(source)
    assert tape.to_bytes() == image and tape.label == str(tmp_path / "a.kst")
    assert cassmak.Tape.read(io.BytesIO(image), label="mine").label == "mine"
    assert cassmak.Tape.read(io.BytesIO(image)).label == "<file>"
    written = io.BytesIO()
    assert tape.save(written) is None
    assert written.getvalue() == image
    with pytest.raises(TypeError):
        cassmak.Tape.read(io.StringIO("text"))


def test_a_tape_pickles_and_its_entries_are_values(tmp_path):
    rng = rng_for("values", 0)
    image = b"".join(random_entry(rng) for _ in range(6)) + b"\x09\x00\x01"
    tape = cassmak.Tape(image, "t.kst")
    again = pickle.loads(pickle.dumps(tape))
    assert (again.to_bytes(), again.label, len(again)) == (image, tape.label, len(tape))
    assert list(again) == list(tape) == tape[:]
    assert {hash(e) for e in again} == {hash(e) for e in tape}
    assert len(set(tape) | set(again)) == len(tape)
    # Another tape with the same first entry: equal entries; another offset
    # or payload: not.
    first = cassmak.Tape(image[: tape[1].offset])
    assert first[0] == tape[0] and first[0] != tape[1]
    assert len(tape) == 7 and tape[-1].kind == "truncated"


def test_signatures_are_visible():
    assert str(inspect.signature(cassmak.make_file)) == (
        "(data, name=b'', number=0, type=b'?', address=0, source='<data>')")
    assert str(inspect.signature(cassmak.Tape().insert)) == (
        "(source, *entries, at=None, force=False)")
    assert str(inspect.signature(cassmak.Tape)) == "(data=b'', label='<bytes>')"


def test_indexing_is_a_sequence(tmp_path):
    image = random_image(rng_for("index", 1), entries=6, damaged=0)
    tape = cassmak.Tape.read(image)
    assert [e.entry for e in tape] == list(range(1, len(tape) + 1))
    if len(tape):
        assert tape[-1].entry == len(tape)
        assert [e.entry for e in tape[1:]] == list(range(2, len(tape) + 1))
    with pytest.raises(IndexError):
        tape[len(tape)]
    path = tmp_path / "tape.kst"
    path.write_bytes(image)
    assert cassmak.Tape.read(str(path)) == cassmak.Tape.read(path) == tape
    assert cassmak.Tape.read(path).label == str(path)
    assert cassmak.Tape.read(bytearray(image), label="mine").label == "mine"


def test_a_json_path_gives_its_bytes_back(tools, tmp_path):
    # A byte of the path that is not part of valid UTF-8 is the lone
    # surrogate U+DC80 + byte, which surrogateescape turns back into it.
    lines = set()
    for name in (b"caf\xc3\xa9.kst", b"caf\xe9.kst", b"\xff\xc3\xa9\x80.kst"):
        path = os.path.join(os.fsencode(tmp_path), name)
        with open(path, "wb") as image:
            image.write(block(b"x"))
        listed = tools.casstool("list", "--json", path)
        assert listed.status == 0, listed.err
        assert os.fsencode(json.loads(listed.out)["image"]) == path
        lines.add(listed.out)
    assert len(lines) == 3
