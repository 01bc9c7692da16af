"""Renumbering and adding: renumber_source, number_source and
source_references against casstool renum and check, Tape.renumber against
casstool renum IMAGE ENTRY, Tape.add against casstool add, on random
programs with line references and labels."""

import cassmak
import pytest

from inputs import random_basic, rng_for


def random_program(rng):
    """A source with references to lines that are there and that are not,
    labels defined and used (now and then undefined or defined twice), and
    the same words inside strings, REM and DATA."""
    numbers = sorted(rng.sample(range(1, 2000), rng.randint(1, 12)))
    labels = [f"@L{n}" for n in range(rng.randint(0, 3))]
    targets = [str(n) for n in numbers] + labels + ["7777", "@NOWHERE"] * (rng.random() < 0.2)

    def target():
        return rng.choice(targets or ["1"])

    statements = [
        lambda: f"GOTO {target()}",
        lambda: f"GOSUB {target()}",
        lambda: f"IF A THEN {target()} ELSE {target()}",
        lambda: f"ON X GOTO {target()},{target()}, {target()}",
        lambda: f"LIST {target()}-{target()}",
        lambda: f'PRINT "GOTO {target()}"',
        lambda: f"REM GOSUB {target()}",
        lambda: f"DATA 1,GOTO {target()}",
        lambda: "PRINT \\@HOME",
    ]
    lines = []
    for n in numbers:
        if labels and rng.random() < 0.3:
            lines.append(f"{rng.choice(labels)}:")
        body = ":".join(rng.choice(statements)() for _ in range(rng.randint(1, 3)))
        lines.append(f"{n if rng.random() < 0.9 else ''} {body}")
    return ("\n".join(lines) + rng.choice(["\n", "\r\n", ""])).encode()


def sources(rng):
    return random_program(rng) if rng.random() < 0.8 else random_basic(rng)


def check(run, text, start, step, number):
    """The module's call against the run of casstool renum on the same text,
    written to a file named "<text>" as the module names it."""
    call = cassmak.number_source if number else cassmak.renumber_source
    if run.status == 2:
        with pytest.raises(cassmak.BadValueError) as caught:
            call(text, start, step)
        assert caught.value.tool_message == run.err.decode("utf-8", "surrogateescape").split(
            "\n")[-2][len("casstool: "):]
        # Each label error named as casstool names it.
        errors = run.err.decode("utf-8", "surrogateescape").split("\n")[:-2]
        assert str(caught.value).split("\n")[1:] == [e[len("<text>:"):] for e in errors]
        return
    renumbered, warnings = call(text, start, step)
    assert renumbered.encode("utf-8", "surrogateescape") == run.out
    assert "".join(f"<text>:{w}\n" for w in warnings).encode() == run.err
    assert {w.kind for w in warnings} <= {"missing-target"}
    assert (1 if warnings else 0) == run.status


def test_renumber_source_is_casstool_renum(tools, rounds, tmp_path):
    for seed in range(rounds * 2):
        rng = rng_for("renum", seed)
        text = sources(rng)
        start, step = rng.choice([(10, 10), (0, 1), (100, 5), (65000, 100)])
        (tmp_path / "<text>").write_bytes(text)
        run = tools.casstool("renum", "<text>", "--start", str(start), "--step", str(step),
                             cwd=tmp_path)
        check(run, text, start, step, number=False)
        # The references are where the source has them.
        lines = text.replace(b"\r\n", b"\n").split(b"\n")
        for r in cassmak.source_references(text):
            at = lines[r.line - 1][r.byte_column - 1:]
            assert at.startswith(r.written.encode()), (r, at)
            assert r.label == r.written.startswith("@")


def test_number_source_is_what_add_basic_packs(tools, rounds, tmp_path):
    for seed in range(rounds):
        rng = rng_for("number", seed)
        text = random_program(rng)
        (tmp_path / "p.bas").write_bytes(text)
        (tmp_path / "t.kst").unlink(missing_ok=True)
        run = tools.casstool("add", "t.kst", "p.bas", "--basic", "-q", cwd=tmp_path)
        try:
            numbered, _ = cassmak.number_source(text)
        except cassmak.BadValueError:
            assert run.status == 2
            continue
        image, _ = cassmak.import_basic(numbered)
        packed = cassmak.make_file(image, name="P", type=">", address=0x2401)
        assert run.status in (0, 1), run.err
        assert (tmp_path / "t.kst").read_bytes() == packed


@pytest.mark.parametrize("start, step, words", [
    (10, 0, "the step must be 1 to 65535, not 0"),
    (-1, 10, "the start must be 0 to 65535, not -1"),
    (10, 2**70, f"the step must be 1 to 65535, not {2**70}"),
    (70000, 1, "the start must be 0 to 65535, not 70000"),
    (65530, 10, "the 2 lines numbered from 65530 by 10 would end at 65540, past 65535"),
])
def test_numbers_refused_as_given(start, step, words):
    with pytest.raises(cassmak.BadValueError) as caught:
        cassmak.renumber_source("1 PRINT\n2 GOTO 1\n", start, step)
    assert str(caught.value) == words
    assert caught.value.tool_message == f"<text>: {words}; nothing written"
    tape = cassmak.Tape(cassmak.make_file(cassmak.import_basic("1 PRINT\n2 GOTO 1\n")[0],
                                          name="P", type=">", address=0x2401))
    with pytest.raises(cassmak.BadValueError) as caught:
        tape.renumber(1, start, step)
    assert str(caught.value) == f"<bytes>: entry 1: {words}; not renumbered"


def test_tape_renumber_is_casstool_renum(tools, rounds, tmp_path):
    for seed in range(rounds):
        rng = rng_for("tape-renum", seed)
        text = cassmak.renumber_source(random_program(rng).replace(b"@", b""))[0]
        image = cassmak.import_basic(text)[0]
        tape = cassmak.Tape(cassmak.make_headless(b"x") +
                            cassmak.make_file(image, name="P", type=">", address=0x2401),
                            label="t.kst")
        (tmp_path / "t.kst").write_bytes(tape.to_bytes())
        entry, start, step = rng.choice([(2, 10, 10), (2, 1, 1), (2, 65535, 1), (1, 10, 10)])
        run = tools.casstool("renum", "t.kst", str(entry), "--start", str(start), "--step",
                             str(step), "-q", cwd=tmp_path)
        if run.status == 2:
            with pytest.raises(cassmak.BadValueError) as caught:
                tape.renumber(entry, start, step)
            assert caught.value.tool_message == run.message("casstool")
            continue
        assert tape.renumber(entry, start, step).to_bytes() == (tmp_path / "t.kst").read_bytes()


@pytest.mark.parametrize("entry, words", [
    (-1, "entry '-1' is not a number"),
    (2**64, "t.kst: no entry 18446744073709551616; its only entry is 1"),
])
def test_tape_renumber_names_entries_as_given(entry, words):
    tape = cassmak.Tape(cassmak.make_headless(b"x"), label="t.kst")
    with pytest.raises(cassmak.BadValueError) as caught:
        tape.renumber(entry)
    assert str(caught.value) == words


def test_tape_add_is_casstool_add(tools, tmp_path):
    (tmp_path / "data.bin").write_bytes(b"\x01\x02\x03")
    base = cassmak.make_headless(b"old")
    cases = [
        (["--name", "data"], dict(name="data")),
        (["--name", "game", "--number", "7", "--type", "B", "--address", "0x4000"],
         dict(name="game", number=7, type="B", address=0x4000)),
        (["--headless"], None),
    ]
    for args, fields in cases:
        (tmp_path / "t.kst").write_bytes(base)
        run = tools.casstool("add", "t.kst", "data.bin", "-q", *args, cwd=tmp_path)
        assert run.status == 0, run.err
        made = (cassmak.make_headless(b"\x01\x02\x03") if fields is None else
                cassmak.make_file(b"\x01\x02\x03", **{"name": "data.bin"[:8], **fields}))
        assert cassmak.Tape(base).add(made).to_bytes() == (tmp_path / "t.kst").read_bytes()

    # A tape whose last file lacks its data would swallow what is added.
    open_tail = cassmak.make_file(b"abc")[:-7]
    (tmp_path / "t.kst").write_bytes(open_tail)
    run = tools.casstool("add", "t.kst", "data.bin", cwd=tmp_path)
    with pytest.raises(cassmak.BadValueError) as caught:
        cassmak.Tape(open_tail, label="t.kst").add(cassmak.make_headless(b"\x01\x02\x03"))
    assert caught.value.tool_message == run.message("casstool")
    assert "force=True" in str(caught.value)
    forced = cassmak.Tape(open_tail).add(cassmak.make_headless(b"z"), force=True)
    assert forced.to_bytes() == open_tail + cassmak.make_headless(b"z")

    # Only whole entries are added.
    for bad in (b"\x05\x00", cassmak.make_file(b"abc")[:-1]):
        with pytest.raises(cassmak.BadValueError, match="file 2 holds a damaged entry"):
            cassmak.Tape(base).add(base, bad)
    with pytest.raises(cassmak.BadValueError, match="at least one file"):
        cassmak.Tape(base).add()
