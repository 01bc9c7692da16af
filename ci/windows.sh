#!/usr/bin/env bash
# Windows: the cross-build with MinGW-w64 and every test under Wine, with the
# same test names as the Linux build; then the release zip of the package
# workflow: its files, CRLF texts, DLLs, and its tools run under Wine against
# the Linux build's, byte for byte. Builds the Linux build (for its test
# names) and the package workflow (for the zip) when they are not there.
source "$(dirname "$0")/common.sh"

version=$(project_version)
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all

# The tests of a CTest log (LastTest.log) that failed without a byte of
# output: Wine that did not start the program at all, which happens now and
# then on a loaded machine. Nothing else is retried.
silent_failures() {
  awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
       /^Output:$/ { getline; getline; empty = ($0 == "<end of output>") }
       /^Test Failed\.$/ && empty { print name }' "$1"
}

part "Windows: cross-build with MinGW-w64, every test under Wine, the release zip tried"
windows_start=$(date +%s)
# A Wine prefix of the build's own, made on first use.
windows_log=$(mktemp)
windows_status=0
cmake --workflow --preset windows >"$windows_log" 2>&1 || windows_status=$?
grep -E '^ *[0-9]+/[0-9]+ Test +#' "$windows_log" >"$windows_log.tests" || true
test_log=build-windows/Testing/Temporary/LastTest.log
[ -f "$test_log" ] && cp "$test_log" "$windows_log.last"
passed=$(grep -c ' Passed ' "$windows_log.tests" || true)
skipped=$(grep -c '\*\*\*Skipped' "$windows_log.tests" || true)
failed=$(grep -cE '\*\*\*(Failed|Exception|Timeout)|Not Run' "$windows_log.tests" || true)
if ((windows_status != 0 && failed != 0)); then
  silent=$(silent_failures "$windows_log.last" | sort -u)
  others=$(grep -E '\*\*\*(Failed|Exception|Timeout)|Not Run' "$windows_log.tests" |
           sed -E 's/^.*Test +#[0-9]+: ([^ ]+) .*$/\1/' | sort -u | grep -vxF "${silent:-none}" || true)
  if [ -n "$silent" ] && [ -z "$others" ]; then
    echo "failed under Wine without any output, run once more:" $silent
    if ctest --preset windows -R "^($(paste -sd '|' <<<"$silent"))\$" >>"$windows_log" 2>&1; then
      windows_status=0
      passed=$((passed + failed))
      failed=0
    fi
  fi
fi
echo "tests under Wine: $passed passed, $skipped skipped, $failed failed (with the two that start and stop the Wine server)"
# Each skipped test with the reason it gave (the line after gtest's "Skipped").
echo "skipped under Wine:"
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
     skip { sub(/^ +/, ""); print "  " name ": " $0; skip = 0 }
     / Skipped$/ && name != "" { skip = 1 }' "$windows_log.last" | sort -u
if ((windows_status != 0 || failed != 0)); then
  cat "$windows_log"
  echo "the Windows build or its tests failed"
  exit 1
fi
# The same test names as on Linux: each one passed or was skipped with its
# reason above. These are not run under Wine, each for its reason:
not_under_wine=(
  "completion_test: a bash script that drives bash's completion"
  "library_example: the installed library's example, built on Linux"
  "install_test: the install as a Linux packager stages it"
  "library_abi: the shared library's ABI, which a Windows build does not make"
  "python_test: the Python module, which a cross build leaves out"
  "CasstoolOutput.AFifoTakesTheBytesInOneOpen: a FIFO, which Windows does not have"
)
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
ctest --test-dir build -N | sed -n 's/^ *Test *#[0-9]*: //p' |
  grep -vxF "$(printf '%s\n' "${not_under_wine[@]}" | sed 's/:.*//')" |
  sort >"$windows_log.linux"
sed -E 's/^.*Test +#[0-9]+: ([^ ]+) .*$/\1/' "$windows_log.tests" | sort >"$windows_log.windows"
if ! comm -23 "$windows_log.linux" "$windows_log.windows" | diff /dev/null -; then
  echo "the tests above run on Linux but not under Wine"
  exit 1
fi
echo "not run under Wine:"
printf '  %s\n' "${not_under_wine[@]}"
rm -f "$windows_log" "$windows_log".*

# The zip of the package workflow: unpack it, convert and list under Wine,
# and compare with the Linux build byte for byte.
zip_file=build-package/cassmak-${version}-windows-x86_64.zip
[ -f "$zip_file" ] || cmake --workflow --preset package >/dev/null
work=$(mktemp -d)
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip_file")
zip_dir=$work/cassmak-${version}-windows-x86_64
zip_texts=(README.txt cassmak.1.txt casstool.1.txt CHANGELOG.txt LICENSE.txt)
diff <(printf '%s\n' cassmak.exe casstool.exe "${zip_texts[@]}" | sort) <(ls -A "$zip_dir" | sort) ||
  { echo "the zip holds other files than these"; exit 1; }
for file in "${zip_texts[@]}"; do
  test -s "$zip_dir/$file" || { echo "empty in the zip: $file"; exit 1; }
  # Every line ends in CR LF, the last one included, and no CR stands alone.
  if grep -qv $'\r$' "$zip_dir/$file" || [ "$(tail -c 1 "$zip_dir/$file" | od -An -tx1)" != " 0a" ] ||
      [ "$(tr -cd '\r' <"$zip_dir/$file" | wc -c)" != "$(tr -cd '\n' <"$zip_dir/$file" | wc -c)" ]; then
    echo "not CRLF text: $file"
    exit 1
  fi
done
grep -q 'cmd' "$zip_dir/README.txt" && grep -q 'PowerShell' "$zip_dir/README.txt" ||
  { echo "README.txt does not say how to run the tools on Windows"; exit 1; }
dlls=$(x86_64-w64-mingw32-objdump -p "$zip_dir/cassmak.exe" | grep -i 'DLL Name')
if grep -viqE 'kernel32|msvcrt|shell32|user32|advapi32|api-ms-win' <<<"$dlls"; then
  echo "cassmak.exe needs a DLL that Windows does not have"
  exit 1
fi
# A program run under Wine; started once more (twice at most) only when Wine
# ended without a byte on either stream, as when it never started it.
wine_run() {
  local attempt status
  for attempt in 1 2 3; do
    status=0
    "$wine" "$@" >wine.out 2>wine.err || status=$?
    if ((status == 0)) || [ -s wine.out ] || [ -s wine.err ]; then
      break
    fi
    echo "wine $*: status $status and no output (attempt $attempt)" >&2
  done
  cat wine.err >&2
  cat wine.out
  rm -f wine.out wine.err
  return "$status"
}
mkdir "$work/linux" "$work/windows"
for side in linux windows; do
  cp examples/primes.bas examples/hello.bin "$work/$side/"
done
(cd "$work/linux" &&
  "$OLDPWD/build-package/cassmak" -b -n 1 -o tape.kst primes.bas >convert.out &&
  "$OLDPWD/build-package/cassmak" -append -o tape.kst hello.bin >>convert.out &&
  "$OLDPWD/build-package/casstool" list tape.kst >list.out)
(cd "$work/windows" && export WINEPREFIX=$OLDPWD/build-windows/wine &&
  wine_run "$zip_dir/cassmak.exe" -b -n 1 -o tape.kst primes.bas >convert.out &&
  wine_run "$zip_dir/cassmak.exe" -append -o tape.kst hello.bin >>convert.out &&
  wine_run "$zip_dir/casstool.exe" list tape.kst >list.out)
for file in tape.kst convert.out list.out; do
  cmp "$work/linux/$file" "$work/windows/$file" || { echo "Windows and Linux differ: $file"; exit 1; }
done
cat "$work/windows/list.out"
rm -rf "$work"
echo "Windows part: $(($(date +%s) - windows_start)) s"
