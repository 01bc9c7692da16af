"""python -m cassmak: list images and check BASIC sources from a shell, with
the module alone (no casstool needed), printing what casstool prints."""

import argparse
import os
import sys

import cassmak
from cassmak._cassmak import _list  # type: ignore[import]  # private, without stubs

PROG = "python -m cassmak"


def fail(text):
    sys.stderr.buffer.write(os.fsencode(PROG) + b": " + text + b"\n")


def run_list(images, json):
    """casstool list [--json]: each image's table (a blank line between
    two) or JSON lines; 2 when an image cannot be read, else 1 when one is
    damaged."""
    status = 0
    first = True
    out = sys.stdout.buffer
    for image in images:
        try:
            tape = cassmak.Tape.read(image)
        except cassmak.Error as error:
            out.flush()
            fail(error.message.encode("utf-8", "surrogateescape"))
            status = 2
            continue
        listed, text, message = _list(tape.to_bytes(), os.fsencode(image), json)
        if not json and not first:
            out.write(b"\n")
        first = False
        out.write(text)
        if message:
            out.flush()
            fail(message)
        status = max(status, listed)
    return status


def run_check(sources):
    """casstool check: one line per warning, 1 when any was printed, 2 when
    a source cannot be read."""
    status = 0
    out = sys.stdout.buffer
    for source in sources:
        try:
            if source == "-":
                text = sys.stdin.buffer.read()
            else:
                with open(source, "rb") as file:
                    text = file.read()
        except OSError as error:
            out.flush()
            fail(os.fsencode(source) + b": " + os.fsencode(error.strerror or str(error)))
            status = 2
            continue
        for warning in cassmak.check_source(text):
            out.write(os.fsencode(source) + b":"
                      + str(warning).encode("utf-8", "surrogateescape") + b"\n")
            status = max(status, 1)
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog=PROG, description="Lists tape images and checks BASIC sources as casstool does.",
        epilog="Exit status: 0 sound, 1 damaged (list) or a warning (check), "
               "2 a file cannot be read.")
    parser.add_argument("--version", action="version",
                        version=f"{PROG} {cassmak.__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    listing = commands.add_parser("list", help="list the entries of images, as casstool list")
    listing.add_argument("--json", action="store_true", help="one JSON object per entry")
    listing.add_argument("images", nargs="+", metavar="IMAGE")
    check = commands.add_parser("check", help="find the pitfalls in BASIC sources, "
                                "as casstool check (- is standard input)")
    check.add_argument("sources", nargs="+", metavar="SOURCE")
    options = parser.parse_args(argv)
    if options.command == "list":
        return run_list(options.images, options.json)
    return run_check(options.sources)


if __name__ == "__main__":
    sys.exit(main())
