#!/usr/bin/env bash
# The build installed as a packager stages it (DESTDIR, prefix /opt/cassmak):
# every file in its place, the executables stripped, the version everywhere
# the project's, the man pages clean under mandoc's lint and within 80
# columns, the shared library's names, the Python module working from there
# (when built), and the library example built on the staged tree.
# Exits 77 (skipped) naming the package that is missing.
#   install_test.sh CMAKE BUILD_DIR SCRATCH VERSION LIBRARY_VERSION LIBDIR
set -euo pipefail
# A program's output is read whole before it is searched: grep -q stops
# reading at its first match, and the writer's end on the closed pipe would
# fail the pipeline.
cmake=$1 build=$2 scratch=$3 version=$4 library_version=$5 libdir=$6
# The Python module where the build made one, for its interpreter.
python_dir=
if [ -e "$build/python/site/cassmak/__init__.pyi" ]; then
  python_dir=$(sed -n 's/^CASSMAK_PYTHON_INSTALL_DIR:STRING=//p' "$build/CMakeCache.txt")
  # FindPython keeps the interpreter it found, given or not, here.
  python=$(sed -n 's/^_\{0,1\}Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt" | head -n 1)
fi
here=$(cd "$(dirname "$0")" && pwd)

for need in readelf:binutils mandoc:mandoc man:man-db groff:groff-base pkg-config:pkgconf; do
  command -v "${need%%:*}" >/dev/null ||
    { echo "skipped: needs ${need%%:*} (Debian: apt-get install ${need#*:})"; exit 77; }
done

rm -rf "$scratch" && mkdir -p "$scratch"
DESTDIR="$scratch/stage" "$cmake" --install "$build" --prefix /opt/cassmak >/dev/null
prefix=$scratch/stage/opt/cassmak
installed_files=(
  bin/cassmak bin/casstool share/man/man1/cassmak.1 share/man/man1/casstool.1
  share/bash-completion/completions/cassmak share/bash-completion/completions/casstool
  share/doc/cassmak/README.md share/doc/cassmak/CHANGELOG.md share/doc/cassmak/copyright
  "$libdir/libcassmak.so.$library_version" "$libdir/libcassmak.a"
  include/cassmak/cassmak.h include/cassmak/version.h
  "$libdir/cmake/cassmak/cassmakConfig.cmake" "$libdir/cmake/cassmak/cassmakConfigVersion.cmake"
  "$libdir/pkgconfig/cassmak.pc"
)
for file in "${installed_files[@]}"; do
  test -f "$prefix/$file" || { echo "not installed: $file"; exit 1; }
done
for tool in cassmak casstool; do
  sections=$(readelf -S "$prefix/bin/$tool")
  if grep -q -e '\.symtab' -e '\.debug_' <<<"$sections"; then
    echo "installed $tool is not stripped"
    exit 1
  fi
done
banner=$("$prefix/bin/cassmak" -v)
banner=${banner%%$'\n'*}
test "$banner" = "cassmak $version - packs a binary file or a BASIC program into a tape image" ||
  { echo "cassmak -v says: $banner"; exit 1; }
for page in cassmak casstool; do
  head -n 1 "$prefix/share/man/man1/$page.1" | grep -qF "\"cassmak $version\"" ||
    { echo "$page.1 does not name version $version"; exit 1; }
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  "$prefix/share/doc/cassmak/copyright" || { echo "copyright is not in Debian's form"; exit 1; }
# The installed man pages: nothing mandoc finds wrong or poor (style
# included), and no line wider than 80 columns as man and groff show them.
mandoc -T lint -W style "$prefix"/share/man/man1/*.1
for page in "$prefix"/share/man/man1/*.1; do
  for width in $(MANWIDTH=80 man -l "$page" 2>/dev/null | LC_ALL=C.UTF-8 wc -L) \
               $(groff -man -T utf8 -P -cbou "$page" | LC_ALL=C.UTF-8 wc -L); do
    ((width <= 80)) || { echo "$page: a line of $width columns"; exit 1; }
  done
done
test "$(readlink "$prefix/$libdir/libcassmak.so.1")" = "libcassmak.so.$library_version" ||
  { echo "libcassmak.so.1 does not link to libcassmak.so.$library_version"; exit 1; }
dynamic=$(readelf -d "$prefix/$libdir/libcassmak.so.$library_version")
grep -q 'SONAME.*\[libcassmak\.so\.1\]' <<<"$dynamic" ||
  { echo "the library's SONAME is not libcassmak.so.1"; exit 1; }
# The Python module with its stubs, imported from there: it finds the
# library from where it is, not from the build folder.
if [ -n "$python_dir" ]; then
  for file in __init__.pyi py.typed; do
    test -f "$prefix/$python_dir/cassmak/$file" || { echo "not installed: the Python package's $file"; exit 1; }
  done
  (cd / && PYTHONPATH=$prefix/$python_dir "$python" -c '
import sys, cassmak
assert cassmak.__file__.startswith(sys.argv[1]), cassmak.__file__
assert len(cassmak.Tape(cassmak.make_file(b"x"))) == 1' "$prefix/$python_dir") ||
    { echo "the installed Python module does not work"; exit 1; }
fi
# Through find_package and pkg-config, against the staged tree; the same
# bytes and lines as the staged tools.
bash "$here/../examples/library/check.sh" "$prefix" "$scratch/example" >/dev/null
echo "installed under DESTDIR: ${#installed_files[@]} files checked, man pages clean, example built"
