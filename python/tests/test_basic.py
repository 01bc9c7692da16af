"""BASIC: import_basic against cassmak -b, list_basic against casstool
basic and check_source against casstool check, on random programs."""

import re

import cassmak
import pytest

from inputs import random_basic, random_payload, rng_for, stored_file


def cassmak_warnings(progress):
    """The (line, text) warnings in cassmak -b's progress output."""
    warnings = []
    for piece in progress.decode("latin-1").split("\r"):
        found = re.match(r"Line: (-?\d+)((?:\t[^\n]*\n)*)$", piece)
        if found:
            for text in found.group(2).split("\n")[:-1]:
                warnings.append((int(found.group(1)), text[1:]))
    return warnings


def test_import_basic_is_cassmak(tools, rounds, tmp_path):
    for seed in range(rounds * 2):
        source = random_basic(rng_for("import", seed))
        (tmp_path / "<text>").write_bytes(source)
        run = tools.cassmak("-b", "-m", "PROG", "-o", "out.kst", "<text>", cwd=tmp_path)
        if run.status != 0:
            with pytest.raises(cassmak.BadValueError) as caught:
                cassmak.import_basic(source)
            assert caught.value.tool_message == run.message("cassmak")
            assert caught.value.status == run.status
            continue
        image, warnings = cassmak.import_basic(source)
        assert [(w.line, w.text) for w in warnings] == cassmak_warnings(run.out)
        tape = (tmp_path / "out.kst").read_bytes()
        assert cassmak.make_file(image, name="PROG", type=">", address=0x2401) == tape
        # A str is taken as its UTF-8 bytes.
        text = source.decode("utf-8", "surrogateescape")
        assert cassmak.import_basic(text)[0] == image


@pytest.mark.parametrize("source, words", [
    (b"1 A\n", "text must be 5 to 65535 bytes long, not 4"),
    (b"1A\n" * 21845, "text is a BASIC program too large (max. 56320 bytes)"),
    (b"10 PRINT\n" * 7282 + b"1234567", "text must be 5 to 65535 bytes long, not 65545"),
])
def test_import_basic_refuses_as_cassmak_does(tools, tmp_path, source, words):
    (tmp_path / "prog.bas").write_bytes(source)
    run = tools.cassmak("-b", "-o", "out.kst", "prog.bas", cwd=tmp_path)
    assert run.status != 0
    with pytest.raises(ValueError) as caught:
        cassmak.import_basic(source, source="prog.bas")
    assert (str(caught.value), caught.value.tool_message) == (words, run.message("cassmak"))
    assert caught.value.status == run.status


def listed_by_casstool(tools, folder, program):
    path = folder / "prog.kst"
    path.write_bytes(stored_file(program, file_type=ord(">"), address=0x2401))
    out = folder / "prog.bas"
    if out.exists():
        out.unlink()
    run = tools.casstool("basic", path, "-o", out)
    prefix = f"casstool: {path}: entry 1: "
    warnings = [
        line[len(prefix) :]
        for line in run.err.decode("utf-8", "surrogateescape").splitlines()
        if line.startswith(prefix)
    ]
    return out.read_bytes(), warnings


def test_list_basic_is_casstool_basic(tools, rounds, tmp_path):
    for seed in range(rounds * 2):
        rng = rng_for("list", seed)
        if seed % 3 == 0:
            program = random_payload(rng)  # anything at all, links and all
        else:
            try:
                program = cassmak.import_basic(random_basic(rng))[0]
            except cassmak.Error:
                continue
            if seed % 3 == 2 and program:
                at = rng.randrange(len(program))
                program = program[:at] + bytes([rng.randrange(256)]) + program[at + 1 :]
        text, warnings = listed_by_casstool(tools, tmp_path, program)
        listed = cassmak.list_basic(program)
        assert listed.encode("utf-8", "surrogateescape") == text
        assert cassmak.list_basic_warnings(program) == warnings
        if not warnings:
            # What the listing promises: the same image back.
            assert cassmak.import_basic(listed)[0] == program


def test_check_source_is_casstool_check(tools, rounds, tmp_path):
    path = tmp_path / "prog.bas"
    for seed in range(rounds * 2):
        source = random_basic(rng_for("check", seed))
        if seed % 10 == 0:
            source = source[: seed % 7]  # too short for cassmak
        path.write_bytes(source)
        run = tools.casstool("check", path)
        found = cassmak.check_source(source)
        assert "".join(f"{path}:{d}\n" for d in found).encode("utf-8", "surrogateescape") == run.out
        assert run.status == (1 if found else 0)
        for d in found:
            assert str(d) == f"{d.line}:{d.column}: warning: {d.message} [{d.kind}]"
            assert d.byte_column >= 1
        assert cassmak.check_source(source.decode("utf-8", "surrogateescape")) == found
