#!/usr/bin/env bash
# Builds the library example against the cassmak installed under PREFIX, once
# through its CMake package and once through pkg-config, runs both and
# compares what they write and print with what the installed tools write and
# print for the same work.
#   examples/library/check.sh PREFIX WORK
set -euo pipefail
prefix=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "$0")" && pwd)
examples=$here/..
rm -rf "$work" && mkdir -p "$work"
cd "$work"

cmake -S "$here" -B cmake-build -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build cmake-build >/dev/null
pc_dir=$(dirname "$(find "$prefix"/lib* -name cassmak.pc -path "*/pkgconfig/*" | head -n 1)")
# Outside the loader's folders the program needs to be told where the
# library is: the rpath the documentation gives, the library's folder as
# pkg-config names it.
export PKG_CONFIG_PATH=$pc_dir
# shellcheck disable=SC2046
c++ -std=c++17 -o pkg-config-build "$here/tape_example.cc" \
  $(pkg-config --cflags --libs cassmak) -Wl,-rpath,"$(pkg-config --variable=libdir cassmak)"

"$prefix/bin/cassmak" -m hello -o tools.kst "$examples/hello.bin" >/dev/null
"$prefix/bin/cassmak" -b -n 1 -m primes -append -o tools.kst "$examples/primes.bas" >/dev/null
{
  "$prefix/bin/casstool" set tools.kst 1 --name greet --address 0x4000
  "$prefix/bin/casstool" move tools.kst 2 1
  "$prefix/bin/casstool" list tools.kst
} | sed 's/tools\.kst/tape.kst/g' >tools.out

for build in cmake-build/tape_example ./pkg-config-build; do
  rm -f tape.kst
  "$build" tape.kst "$examples/hello.bin" "$examples/primes.bas" >library.out
  cmp tools.kst tape.kst || { echo "$build: the tape differs from the tools'"; exit 1; }
  cmp tools.out library.out || { diff tools.out library.out; echo "$build: its lines differ from the tools'"; exit 1; }
done
# The shared library, not a copy of the core, did the work.
# (On a merged /usr the loader names /lib for /usr/lib: both are compared
# with their links resolved.)
loaded=$(ldd cmake-build/tape_example | sed -n 's/^.*libcassmak\.so\.1 => \([^ ]*\).*$/\1/p')
case "$(realpath "$loaded")" in
  "$(realpath "$prefix")"/*) ;;
  *) echo "the example loaded libcassmak.so.1 from '$loaded', not from $prefix"; exit 1 ;;
esac
cat library.out
echo "the library example, built through find_package and pkg-config, matches the tools"
