#!/usr/bin/python3
"""Times listing 2,000 tape images through the Python module against one run
of `casstool list --json` over the same files, side by side in one run, and
prints the median of a few rounds of each and their ratio.

Two kinds of image: 65,540 bytes of a file and a headless block (the images
of bench/list.sh), and 4,000 bytes of 40 small entries, where the cost per
entry counts most. The module's side reads each image and takes every field
that a JSON line holds; casstool's side is the whole process, writing its
lines to /dev/null.

Usage: /usr/bin/python3 bench/python_list.py [IMAGES] [ROUNDS]
CASSMAK_BENCH_DIR names a Release build folder of one's own instead of the
bench preset's.
"""

import os
import platform
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build():
    folder = os.environ.get("CASSMAK_BENCH_DIR")
    if folder:
        subprocess.run(["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", folder, "--target", "casstool", "cassmak_python"],
                       check=True, stdout=subprocess.DEVNULL)
    else:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "bench", "--target", "casstool",
                        "cassmak_python"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        folder = os.path.join(ROOT, "build-bench")
    return os.path.abspath(folder)


def write_images(cassmak, folder, count, shape, rng):
    paths = []
    for i in range(count):
        if shape == "large":
            image = cassmak.make_file(rng.randbytes(60000), name=f"IMG{i % 10000}",
                                      number=i % 100) + cassmak.make_headless(rng.randbytes(5470))
        else:
            image = b"".join(
                cassmak.make_file(rng.randbytes(32), name=f"F{j}", number=j)
                if j % 2 == 0 else cassmak.make_headless(rng.randbytes(64))
                for j in range(40))
        path = os.path.join(folder, f"{shape}{i:04d}.kst")
        with open(path, "wb") as out:
            out.write(image)
        paths.append(path)
    return paths


def list_with_module(cassmak, paths):
    rows = 0
    for path in paths:
        for e in cassmak.Tape.read(path):
            (e.entry, e.offset, e.kind, e.length, e.number, e.type, e.address, e.name,
             e.header_checksum, e.data_checksum, e.problem)
            rows += 1
    return rows


def list_with_casstool(casstool, paths):
    subprocess.run([casstool, "list", "--json", *paths], check=True, stdout=subprocess.DEVNULL)


def timed(work):
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def main():
    images = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    folder = build()
    sys.path.insert(0, os.path.join(folder, "python", "site"))
    import cassmak

    casstool = os.path.join(folder, "casstool")
    cpu = next((line.split(": ", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    print(f"{images} images a shape, {rounds} rounds; {os.cpu_count()} cores, "
          f"{platform.machine()}, {cpu}; Python {platform.python_version()}")
    rng = random.Random(1)
    with tempfile.TemporaryDirectory() as work:
        for shape in ("large", "small"):
            paths = write_images(cassmak, work, images, shape, rng)
            size = sum(os.path.getsize(p) for p in paths)
            rows = list_with_module(cassmak, paths)  # and the page cache warm
            list_with_casstool(casstool, paths)
            module, tool = [], []
            for i in range(rounds):
                # Each goes first every other round.
                pair = [("module", lambda: list_with_module(cassmak, paths)),
                        ("casstool", lambda: list_with_casstool(casstool, paths))]
                for name, work_ in pair if i % 2 == 0 else reversed(pair):
                    (module if name == "module" else tool).append(timed(work_))
            m, t = statistics.median(module), statistics.median(tool)
            print(f"{shape}: {images} images, {size:,} bytes, {rows:,} entries: "
                  f"module {m * 1000:.1f} ms, casstool list --json {t * 1000:.1f} ms, "
                  f"module / casstool = {m / t:.2f}")
            for path in paths:
                os.unlink(path)


if __name__ == "__main__":
    main()
