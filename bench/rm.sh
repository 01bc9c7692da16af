#!/usr/bin/env bash
# Times one `casstool rm` of an entry in the middle of an image of 2,000
# entries (1,000 files of 65,465 bytes and 1,000 headless blocks of 65,531
# bytes, 65,533 bytes each on the tape: 125 MiB) against `cp` of that image,
# side by side in one run, round after round, both replacing an existing
# file, on each file system given, and prints the medians:
# - without syncing: `casstool rm --no-sync` against `cp`;
# - with syncing: `casstool rm` (the new file's data synced before the
#   rename, the folder after it) against `cp` followed by `sync` of the copy
#   and its folder.
# The span after the removed entry moves by 65,533 bytes, which is not a
# whole number of pages: it is the copy that is aligned neither at its source
# nor at its target.
# Usage: bench/rm.sh [rounds] [folder...] (default: $TMPDIR or /tmp, and
# /dev/shm, a tmpfs, where there is one; CASSMAK_BENCH_DIR: a Release build
# folder)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-11}
dir=${CASSMAK_BENCH_DIR:-$PWD/build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target cassmak casstool >/dev/null
dir=$(cd "$dir" && pwd)
shift || true
places=("$@")
if ((${#places[@]} == 0)); then
  places=("${TMPDIR:-/tmp}")
  [[ -d /dev/shm && -w /dev/shm ]] && places+=(/dev/shm)
fi
# The medians of the wall time and of the processor time (user and system)
# of each: on a machine shared with other work the wall time also holds the
# waits for a processor, the processor time does not.
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
report() {
  local a=$(median "${!2}") b=$(median "${!3}") c=$(median "${!4}") d=$(median "${!5}")
  printf '  %s: rm %.1f ms, cp %.1f ms, ratio %.2f; processor time rm %.1f ms, cp %.1f ms, ratio %.2f\n' \
    "$1" "$a" "$b" "$(echo "$a / $b" | bc -l)" "$c" "$d" "$(echo "$c / $d" | bc -l)"
}
for place in "${places[@]}"; do
  work=$(mktemp -d "$place/cassmak-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (
    cd "$work"
    head -c 65465 /dev/urandom >file.bin
    head -c 65531 /dev/urandom >block.bin
    "$dir/cassmak" -o one.kst file.bin >/dev/null
    "$dir/cassmak" -append -hless -o one.kst block.bin >/dev/null
    for ((i = 0; i < 1000; i++)); do cat one.kst; done >image.kst
    echo "$place ($(df -T . | awk 'NR == 2 { print $2 }')): $("$dir/casstool" list image.kst | tail -n 1)"
    # Runs the command after it (the new image made first), and adds its wall
    # and processor time in milliseconds to the arrays named first.
    timed() {
      local -n wall=$1 processor=$2
      shift 2
      cp image.kst edit.kst
      cp image.kst copy.kst
      sync
      local TIMEFORMAT='%R %U %S' times
      times=$({ time "$@" >/dev/null; } 2>&1)
      read -r real user system <<<"$times"
      wall+=("$(echo "$real * 1000" | bc -l)")
      processor+=("$(echo "($user + $system) * 1000" | bc -l)")
    }
    copy_and_sync() { cp image.kst copy.kst && sync copy.kst .; }
    rm_fast=() cp_fast=() rm_sync=() cp_sync=()
    rm_fast_cpu=() cp_fast_cpu=() rm_sync_cpu=() cp_sync_cpu=()
    for ((r = 0; r < rounds; r++)); do
      timed cp_fast cp_fast_cpu cp image.kst copy.kst
      timed rm_fast rm_fast_cpu "$dir/casstool" rm -q --no-sync edit.kst 1001
      timed cp_sync cp_sync_cpu copy_and_sync
      timed rm_sync rm_sync_cpu "$dir/casstool" rm -q edit.kst 1001
    done
    report "not synced" 'rm_fast[@]' 'cp_fast[@]' 'rm_fast_cpu[@]' 'cp_fast_cpu[@]'
    report "synced    " 'rm_sync[@]' 'cp_sync[@]' 'rm_sync_cpu[@]' 'cp_sync_cpu[@]'
  )
  rm -rf "$work"
done
echo "(medians of $rounds rounds)"
