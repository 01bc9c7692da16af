"""python -m cassmak prints what casstool prints, byte for byte, and exits
as it does."""

import os
import subprocess
import sys

import cassmak

from inputs import random_basic, random_image, rng_for


def main(*args, stdin=b""):
    return subprocess.run([sys.executable, "-m", "cassmak", *map(os.fsencode, args)],
                          input=stdin, capture_output=True, check=False)


def test_list_and_check_are_casstools(tools, rounds, tmp_path):
    for seed in range(rounds // 4 + 1):
        rng = rng_for("main", seed)
        images = []
        for i in range(rng.randint(1, 3)):
            images.append(tmp_path / f"{seed}-{i}.kst")
            images[-1].write_bytes(random_image(rng))
        if seed % 3 == 0:
            images.insert(rng.randint(0, len(images)), tmp_path / "missing.kst")
        sources = [tmp_path / f"{seed}.bas"]
        sources[0].write_bytes(random_basic(rng))
        for command, paths in (("list", images), ("list --json", images), ("check", sources)):
            ours = main(*command.split(), *paths)
            theirs = tools.casstool(*command.split(), *paths)
            assert (ours.returncode, ours.stdout) == (theirs.status, theirs.out), command
            if theirs.status == 2:
                said = ours.stderr.decode("utf-8", "surrogateescape")
                assert said == f"python -m cassmak: {theirs.message('casstool')}\n"


def test_check_reads_standard_input(tools):
    source = b'10 PRINT "A\n20 GOTO 10\n'
    ours = main("check", "-", stdin=source)
    assert (ours.returncode, ours.stdout) == (1, tools.casstool("check", "-", stdin=source).out)


def test_version_and_usage():
    assert main("--version").stdout == f"python -m cassmak {cassmak.__version__}\n".encode()
    assert main().returncode == main("list").returncode == 2
