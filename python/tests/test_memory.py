"""A tape's memory is a small multiple of its image, however many entries it
holds: measured under an address space limit, in an interpreter of its own,
on images of nothing but empty blocks (2 bytes an entry, the most entries a
byte can hold)."""

import os
import subprocess
import sys

import pytest

# Everything the read needs is loaded before the limit is set; then the
# address space may grow by BUDGET: what it grows by for the image, the
# index and a Python object or two, and no more.
PROGRAM = """
import itertools, resource, sys, cassmak
path, budget, walk = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "all"
def address_space():
    for line in open("/proc/self/status"):
        if line.startswith("VmSize:"):
            return int(line.split()[1]) * 1024
tape = cassmak.Tape.read(cassmak.make_headless(b"x"))
list(tape), tape[0], tape[:1]
limit = address_space() + budget
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
tape = cassmak.Tape.read(path)
entries = tape if walk else itertools.islice(tape, 100000)
walked = sum(1 for entry in entries if entry.length == 0)
print(len(tape), walked, tape.damaged, tape[-1].entry, tape[len(tape) // 2].offset)
"""

MIB = 1 << 20


@pytest.mark.parametrize("size, walk", [(4 * MIB, "all"), (64 * MIB, "some")])
def test_a_tape_of_tiny_entries_takes_a_few_times_its_bytes(tmp_path, size, walk):
    path = tmp_path / "empty-blocks.kst"
    path.write_bytes(b"\0\0" * (size // 2))
    # The image, its index (4 bytes an entry: twice the image) and the
    # image again while the read's buffer is trimmed, with room for the
    # allocator's own.
    budget = 4 * size + 16 * MIB
    run = subprocess.run([sys.executable, "-c", PROGRAM, str(path), str(budget), walk],
                         capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stderr[-2000:]
    count = size // 2
    walked = count if walk == "all" else 100000
    assert run.stdout.split() == [str(count), str(walked), "False", str(count), str(size // 2)]
