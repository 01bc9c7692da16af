"""Making tapes: make_file and make_headless against cassmak on the same
inputs, byte for byte, with its messages and statuses for what it refuses."""

import cassmak
import pytest

from inputs import random_name, rng_for


def random_fields(rng):
    """Fields as cassmak takes them, now and then one it refuses."""
    fields = {
        # A NUL cannot be given on a command line.
        "name": random_name(rng).replace(b"\0", b"").rstrip(b" ") or b"X",
        "number": rng.randrange(100),
        "type": bytes([rng.randrange(0x21, 0x7F)]),
        "address": rng.randrange(0x10000),
    }
    if rng.random() < 0.3:
        field, value = rng.choice(
            [
                ("name", b"NINECHARS"),
                ("name", b"lower"),
                ("number", 100),
                ("number", 99),
                ("address", 65536),
                ("address", 65535),
                ("type", b" "),
                ("type", b"\x7f"),
                ("type", b"AB"),
                ("type", b"~"),
            ]
        )
        fields[field] = value
    return fields


def random_data(rng):
    choice = rng.random()
    if choice < 0.05:
        return b""
    if choice < 0.1:
        return bytes(rng.choice([65533, 65534]))
    return bytes(rng.randrange(256) for _ in range(rng.randint(1, 500)))


def made_by_cassmak(tools, folder, data, options):
    """cassmak's image of `data` (given as the file <data>) and its run."""
    (folder / "<data>").write_bytes(data)
    out = folder / "out.kst"
    if out.exists():
        out.unlink()
    run = tools.cassmak(*options, "-o", "out.kst", "<data>", cwd=folder)
    return run, out.read_bytes() if run.status == 0 else None


def expect_same(run, image, call):
    if run.status == 0:
        assert call() == image
    else:
        with pytest.raises(cassmak.BadValueError) as caught:
            call()
        assert caught.value.tool_message == run.message("cassmak")
        assert caught.value.status == run.status


def test_make_file_is_cassmak(tools, rounds, tmp_path):
    for seed in range(rounds * 2):
        rng = rng_for("make", seed)
        data = random_data(rng)
        fields = random_fields(rng)
        run, image = made_by_cassmak(
            tools,
            tmp_path,
            data,
            [
                "-m", fields["name"],
                "-n", str(fields["number"]),
                "-t", fields["type"],
                "-a", str(fields["address"]),
            ],
        )
        expect_same(run, image, lambda: cassmak.make_file(data, **fields))
        # The numbers as texts, as cassmak reads them.
        as_digits = dict(fields, number=hex(fields["number"]), address=oct(fields["address"]).replace("o", ""))
        expect_same(run, image, lambda: cassmak.make_file(data, **as_digits))
        # The same with the texts given as str (the bytes of their UTF-8).
        if run.status == 0:
            as_text = dict(fields, name=fields["name"].decode("utf-8", "surrogateescape"),
                           type=fields["type"].decode("utf-8", "surrogateescape"))
            assert cassmak.make_file(data, **as_text) == image


def test_make_headless_is_cassmak(tools, rounds, tmp_path):
    for seed in range(rounds):
        data = random_data(rng_for("headless", seed))
        run, image = made_by_cassmak(tools, tmp_path, data, ["-hless"])
        expect_same(run, image, lambda: cassmak.make_headless(data))


def test_defaults_are_cassmak_defaults(tools, tmp_path):
    # A blank name is eight spaces, as -m gives it; the rest are cassmak's defaults.
    run, image = made_by_cassmak(tools, tmp_path, b"hello", ["-m", " " * 8])
    assert run.status == 0
    assert cassmak.make_file(b"hello") == image
    assert cassmak.make_file(memoryview(b"hello"), name=" " * 8) == image


# Python's words for what cassmak refuses: the parameter and the value given,
# where cassmak names its option and its input file.
@pytest.mark.parametrize("call, raised, words", [
    (dict(data=b""), cassmak.BadValueError, "data must be 1 to 65533 bytes long, not 0"),
    (dict(name="NINECHARS"), cassmak.BadValueError,
     "name must be at most 8 characters, not 'NINECHARS'"),
    (dict(number=100), cassmak.BadValueError, "number must be in range 0 to 99, not 100"),
    (dict(number="0x64"), cassmak.BadValueError, "number must be in range 0 to 99, not '0x64'"),
    (dict(number=-2**70), cassmak.BadValueError,
     f"number must be in range 0 to 99, not {-2**70}"),
    (dict(type=b"AB"), cassmak.BadValueError,
     "type must be a single ASCII character from '!' to '~', not b'AB'"),
    (dict(address=65536), cassmak.BadValueError,
     "address must be in range 0 to 65535, not 65536"),
    (dict(address="0x"), cassmak.BadValueError, "address must be in range 0 to 65535, not '0x'"),
    (dict(address=1.5), TypeError, "address must be int or str, not float"),
    (dict(number=b"1"), TypeError, "number must be int or str, not bytes"),
])
def test_a_refusal_names_the_parameter(call, raised, words):
    with pytest.raises(raised) as caught:
        cassmak.make_file(**{"data": b"x", **call})
    assert str(caught.value) == words
    if raised is cassmak.BadValueError:
        assert isinstance(caught.value, ValueError)
        assert "'-" not in str(caught.value) and "<data>" not in str(caught.value)


def test_a_number_is_an_int_or_cassmaks_text():
    assert cassmak.make_file(b"x", address="0x4000", number="010") == cassmak.make_file(
        b"x", address=0x4000, number=8)
