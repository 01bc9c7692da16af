"""Random inputs for the module's tests: tape images, sound and damaged, and
BASIC sources with the pitfalls the importer and the check know about.

The images are written here from the block layout, not by the module under
test, so that a fault in the module's writer cannot hide in its inputs.
"""

import random

SYNC = b"\xff" * 16 + b"\x00" * 16 + b"\x55" * 16


def word(value):
    return (value & 0xFFFF).to_bytes(2, "little")


def block(body):
    return word(len(body)) + body


def header(number, file_type, address, length, name):
    head = bytes([number & 0xFF, file_type]) + word(address) + word(length - 1) + name
    return block(SYNC + head + bytes([sum(head) & 0xFF]))


def stored_file(payload, number=0, file_type=ord("?"), address=0, name=b"NAME    "):
    return header(number, file_type, address, len(payload), name) + block(
        payload + bytes([sum(payload) & 0xFF])
    )


def random_name(rng):
    choice = rng.random()
    if choice < 0.6:
        text = bytes(rng.choice(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-") for _ in range(8))
    elif choice < 0.8:
        text = b"".join(rng.choice([b"GAME", b"A", b"\\X", b'"Q"', b"LOADER"]) for _ in range(2))
    else:
        text = bytes(rng.randrange(256) for _ in range(8))
    return (text + b" " * 8)[:8]


def random_payload(rng, most=300):
    return bytes(rng.randrange(256) for _ in range(rng.randint(1, most)))


def random_entry(rng):
    choice = rng.random()
    if choice < 0.65:
        return stored_file(
            random_payload(rng),
            rng.randrange(100),
            rng.randrange(0x21, 0x7F),
            rng.randrange(0x10000),
            random_name(rng),
        )
    if choice < 0.9:
        return block(random_payload(rng))
    return block(b"")


def damage(rng, image):
    """One kind of damage: a changed byte, a cut, a tail, a header alone."""
    choice = rng.random()
    if choice < 0.35 and image:
        at = rng.randrange(len(image))
        return image[:at] + bytes([image[at] ^ (1 << rng.randrange(8))]) + image[at + 1 :]
    if choice < 0.6 and image:
        return image[: rng.randrange(len(image))]
    if choice < 0.8:
        return image + bytes(rng.randrange(256) for _ in range(rng.randint(1, 5)))
    return image + header(1, ord("B"), 0x4000, rng.randint(1, 200), b"ALONE   ")


def random_image(rng, entries=6, damaged=0.5):
    image = b"".join(random_entry(rng) for _ in range(rng.randint(0, entries)))
    if rng.random() < damaged:
        for _ in range(rng.randint(1, 3)):
            image = damage(rng, image)
    return image


KEYWORDS = [
    "PRINT", "GOTO", "GOSUB", "RETURN", "IF", "THEN", "FOR", "TO", "STEP", "NEXT",
    "REM", "DATA", "READ", "INPUT", "LET", "DIM", "END", "POKE", "PEEK", "CHR$",
    "LEFT$", "MID$", "TAB(", "AND", "OR", "NOT", "INT", "RND", "HEX$", "AT",
]


def random_statement(rng):
    parts = []
    for _ in range(rng.randint(0, 8)):
        choice = rng.random()
        if choice < 0.4:
            keyword = rng.choice(KEYWORDS)
            parts.append(keyword.lower() if rng.random() < 0.1 else keyword)
        elif choice < 0.6:
            parts.append(str(rng.randrange(100000)))
        elif choice < 0.75:
            text = "".join(rng.choice("AB CD:;,!") for _ in range(rng.randint(0, 12)))
            parts.append('"' + text + ('"' if rng.random() < 0.9 else ""))
        elif choice < 0.85:
            parts.append(rng.choice(["A", "B$", "X1", "+", "-", "*", "=", "<>", "(", ")", ":"]))
        elif choice < 0.9:
            parts.append(rng.choice(["é", "\t", "\x00", "\x7f", "ü"]))
        else:
            parts.append("X" * rng.randint(20, 90))
    return rng.choice([" ", "", "  "]).join(parts)


def random_basic(rng, lines=12):
    """A BASIC source as bytes: numbered lines, mostly in order, with now and
    then a line out of order, without a number, long, short, with CR line
    ends, a byte order mark or bytes that are not ASCII."""
    number = rng.randint(0, 20)
    out = []
    if rng.random() < 0.05:
        out.append("\ufeff")
    for _ in range(rng.randint(1, lines)):
        choice = rng.random()
        if choice < 0.8:
            number += rng.randint(1, 20)
            shown = str(number)
        elif choice < 0.88:
            shown = str(rng.randint(0, number))
        elif choice < 0.93:
            shown = ""
        else:
            shown = str(rng.choice([65535, 65536, 99999, 4294967296 + 10]))
        line = shown + rng.choice([" ", "", "\t"]) + random_statement(rng)
        end = rng.choice(["\n"] * 8 + ["\r\n", "\r", ""])
        out.append(line + end)
        if rng.random() < 0.03:
            out.append("\n")
    return "".join(out).encode("utf-8")


def rng_for(name, seed):
    """One random stream per test and round, the same on every run."""
    return random.Random(f"{name}:{seed}")
