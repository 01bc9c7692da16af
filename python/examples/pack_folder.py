#!/usr/bin/python3
"""Packs every file of a folder into one tape image, in name order: a BASIC
source (.bas) tokenized as cassmak -b does, any other file stored as it is.
Each file is numbered from 1 and named from its file name, cut at the dot.

Usage: pack_folder.py FOLDER OUTPUT.kst

The tape is written as casstool writes its images, under the lock that
cassmak -append takes, and then listed.
"""

import os
import sys

import cassmak


def tape_name(file_name):
    """The first 8 characters of the name, without the extension."""
    return os.path.splitext(file_name)[0][:8]


def pack(folder):
    tapes = []
    for number, file_name in enumerate(sorted(os.listdir(folder)), start=1):
        path = os.path.join(folder, file_name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as source:
            data = source.read()
        name = tape_name(file_name)
        if file_name.lower().endswith(".bas"):
            image, warnings = cassmak.import_basic(data, source=path)
            for warning in warnings:
                print(f"{path}: line {warning.line}: {warning.text}", file=sys.stderr)
            stored = cassmak.make_file(image, name=name, number=number % 100, type=">",
                                       address=0x2401)
        else:
            stored = cassmak.make_file(data, name=name, number=number % 100)
        tapes.append(cassmak.Tape(stored, label=path))
    return cassmak.join(tapes)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().split("\n\n")[1])
    folder, output = sys.argv[1:]
    try:
        tape = pack(folder)
        tape.save(output)
    except (cassmak.Error, OSError) as error:
        sys.exit(f"pack_folder: {error}")
    for entry in tape:
        name = entry.name_str if entry.name_str is not None else repr(entry.name)
        print(f"{entry.entry:3}  {name:10} {entry.length:6} bytes")
    print(f"{output}: {len(tape)} files, {tape.size:,} bytes")


if __name__ == "__main__":
    main()
