#!/usr/bin/env bash
# Times one `casstool rm` of an entry in the middle of an image of 2,000
# entries (1,000 files of 65,465 bytes and 1,000 headless blocks of 65,531
# bytes, 65,533 bytes each on the tape: 125 MiB) against `cp` of that image,
# side by side in one run, round after round, both replacing an existing
# file, and prints the medians:
# - without syncing: `casstool rm --no-sync` against `cp`;
# - with syncing: `casstool rm` (the new file's data synced before the
#   rename, the folder after it) against `cp` followed by `sync` of the copy
#   and its folder.
# Usage: bench/rm.sh [rounds] (CASSMAK_BENCH_DIR: a Release build folder;
# TMPDIR: where the image is made)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-11}
dir=${CASSMAK_BENCH_DIR:-$PWD/build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target cassmak casstool >/dev/null
dir=$(cd "$dir" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 65465 /dev/urandom >file.bin
head -c 65531 /dev/urandom >block.bin
"$dir/cassmak" -o one.kst file.bin >/dev/null
"$dir/cassmak" -append -hless -o one.kst block.bin >/dev/null
for ((i = 0; i < 1000; i++)); do cat one.kst; done >image.kst
"$dir/casstool" list image.kst | tail -n 1
now() { date +%s%N; }
# Runs the command after it (the new image made first), and adds its time
# in nanoseconds to the array named first.
timed() {
  local -n into=$1
  shift
  cp image.kst edit.kst
  cp image.kst copy.kst
  sync
  local start end
  start=$(now)
  "$@"
  end=$(now)
  into+=($((end - start)))
}
copy_and_sync() { cp image.kst copy.kst && sync copy.kst .; }
rm_fast=() cp_fast=() rm_sync=() cp_sync=()
for ((r = 0; r < rounds; r++)); do
  timed cp_fast cp image.kst copy.kst
  timed rm_fast "$dir/casstool" rm -q --no-sync edit.kst 1001
  timed cp_sync copy_and_sync
  timed rm_sync "$dir/casstool" rm -q edit.kst 1001
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
report() {
  local a=$(median "${!2}") b=$(median "${!3}")
  printf '%s: rm %.1f ms, cp %.1f ms, ratio %.2f\n' "$1" \
    "$(echo "$a / 1000000" | bc -l)" "$(echo "$b / 1000000" | bc -l)" "$(echo "$a / $b" | bc -l)"
}
report "not synced" 'rm_fast[@]' 'cp_fast[@]'
report "synced    " 'rm_sync[@]' 'cp_sync[@]'
echo "(medians of $rounds rounds)"
