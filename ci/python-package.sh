#!/usr/bin/env bash
# The Python package the Python way, from the files of this tree (as a clean
# clone has them): the sdist, the wheel built from it by pip, installed into
# a fresh virtual environment, imported there and run against the tools by
# the module's tests; mypy finds its types and mypy.stubtest finds the stubs
# true. Then `cmake --install` into another virtual environment, through a
# preset, gives an importable module too.
#
# Installs nothing: it needs Debian's python3-venv, python3-setuptools,
# python3-wheel, python3-pybind11, python3-dev, python3-pytest and
# python3-mypy (for /usr/bin/python3, which they serve), cmake and a C++
# compiler. No package index is needed: pip builds with
# --no-build-isolation in venvs that see the system's packages.
set -euo pipefail
cd "$(dirname "$0")/.."
python=/usr/bin/python3
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} PIP_NO_INDEX=1
export PYTHONDONTWRITEBYTECODE=1 PIP_DISABLE_PIP_VERSION_CHECK=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The tracked files as they are now, without any build folder.
mkdir "$work/tree"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work/tree"
version=$(sed -n 's/^project(cassmak VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)

echo "== python package: the sdist, and the wheel pip builds from it"
(cd "$work/tree" && $python -c '
import sys, setuptools.build_meta as backend
print(backend.build_sdist(sys.argv[1]))' "$work/dist" >/dev/null)
sdist=$work/dist/cassmak-$version.tar.gz
tar -xzf "$sdist" -C "$work"
$python -m venv --system-site-packages "$work/build-venv"
"$work/build-venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps \
  -w "$work/dist" "$work/cassmak-$version"
wheels=("$work"/dist/cassmak-"$version"-*.whl)
test ${#wheels[@]} = 1 || { echo "not one wheel: ${wheels[*]}"; exit 1; }
# The package's files, and an extension that needs no libcassmak.so.
listing=$($python -m zipfile -l "${wheels[0]}")
for file in __init__.py __init__.pyi __main__.py py.typed; do
  grep -q "^cassmak/$file " <<<"$listing" || { echo "not in the wheel: cassmak/$file"; exit 1; }
done
mkdir "$work/unpacked"
$python -m zipfile -e "${wheels[0]}" "$work/unpacked"
if readelf -d "$work"/unpacked/cassmak/_cassmak.*.so | grep NEEDED | grep -q libcassmak; then
  echo "the wheel's extension needs libcassmak.so"; exit 1
fi
rm -rf "$work/unpacked"

echo "== python package: installed into a fresh venv, imported, tested, typed"
venv=$work/venv
$python -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install -q --no-deps "${wheels[0]}"
site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
(cd / && "$venv/bin/python" -c '
import sys, cassmak
assert cassmak.__file__.startswith(sys.argv[1]), cassmak.__file__
assert len(cassmak.Tape(cassmak.make_file(b"x"))) == 1' "$site")
(cd / && "$venv/bin/python" -m cassmak --version >/dev/null)

# The tools the tests compare with, and the module installed by CMake into
# another venv: configured through a preset inside the venv, which finds
# the venv's interpreter and installs into its site-packages.
cmake_venv=$work/cmake-venv
$python -m venv --system-site-packages "$cmake_venv"
(cd "$work/tree" && VIRTUAL_ENV=$cmake_venv PATH=$cmake_venv/bin:$PATH \
  cmake --preset example -B "$work/cmake" -DCMAKE_INSTALL_PREFIX="$cmake_venv" >"$work/configure.log")
grep -F -- "-- Python module: built for $cmake_venv/bin/python" "$work/configure.log" ||
  { cat "$work/configure.log"; echo "the preset did not take the venv's interpreter"; exit 1; }
cmake --build "$work/cmake" >/dev/null
cmake --install "$work/cmake" >/dev/null
cmake_site=$("$cmake_venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
(cd / && "$cmake_venv/bin/python" -c '
import sys, cassmak
assert cassmak.__file__.startswith(sys.argv[1]), cassmak.__file__
assert len(cassmak.Tape(cassmak.make_file(b"x"))) == 1' "$cmake_site") ||
  { echo "cmake --install into a venv: the module does not import"; exit 1; }

# The tests against the wheel's package (not the tree's: run from the work
# folder, whose path pytest puts first is the tests' own).
(cd "$work" && CASSMAK_EXE=$cmake_venv/bin/cassmak CASSTOOL_EXE=$cmake_venv/bin/casstool \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$work/tree/python/tests")

# mypy finds the installed types (py.typed): a wrong one is an error, and
# the stubs agree with the module.
cat >"$work/typed.py" <<'PY'
import cassmak

size: str = cassmak.Tape(b"").size
PY
if (cd "$work" && "$venv/bin/python" -m mypy --no-incremental typed.py >"$work/mypy.log"); then
  echo "mypy did not find the installed types"; exit 1
fi
grep -q 'Incompatible types in assignment (expression has type "int", variable has type "str")' "$work/mypy.log" ||
  { cat "$work/mypy.log"; exit 1; }
(cd "$work" && "$venv/bin/python" -m mypy.stubtest cassmak)
