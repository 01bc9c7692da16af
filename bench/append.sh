#!/usr/bin/env bash
# Times one `cassmak -append` of a 65,533-byte file to an image of 1 MiB
# against `cp` of that image, side by side in one run, round after round,
# and prints the medians. cassmak syncs (the new file's data before it is
# renamed over the old image, the folder after), so syncing is included in
# both: `cp` is followed by `sync` of the copy and its folder. `cp` alone is
# timed too, which shows what the syncing costs.
# Usage: bench/append.sh [rounds] (CASSMAK_BENCH_DIR: a Release build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-21}
dir=${CASSMAK_BENCH_DIR:-$PWD/build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target cassmak >/dev/null
dir=$(cd "$dir" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 65533 /dev/urandom >file.bin
for ((i = 0; i < 15; i++)); do "$dir/cassmak" -append -o image.kst file.bin >/dev/null; done
head -c $((1048576 - $(wc -c <image.kst))) /dev/zero >>image.kst
now() { date +%s%N; }
timed() {
  local -n into=$1
  shift
  cp image.kst edit.kst
  cp image.kst copy.kst
  sync
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  into+=($((end - start)))
}
copy_and_sync() { cp image.kst copy.kst && sync copy.kst .; }
append_times=() cp_sync_times=() cp_times=()
for ((r = 0; r < rounds; r++)); do
  timed cp_times cp image.kst copy.kst
  timed cp_sync_times copy_and_sync
  timed append_times "$dir/cassmak" -append -o edit.kst file.bin
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
ms() { echo "$1 / 1000000" | bc -l; }
m_append=$(median "${append_times[@]}") m_sync=$(median "${cp_sync_times[@]}")
m_cp=$(median "${cp_times[@]}")
printf 'append %.2f ms, cp and sync %.2f ms, ratio %.2f; cp alone %.2f ms (image of %d bytes, medians of %d rounds)\n' \
  "$(ms "$m_append")" "$(ms "$m_sync")" "$(echo "$m_append / $m_sync" | bc -l)" "$(ms "$m_cp")" \
  "$(wc -c <image.kst)" "$rounds"
