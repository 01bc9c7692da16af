#!/usr/bin/env bash
# Times one `cassmak -append` of a 65,533-byte file to an image of 1 MiB
# against `cp` of that image, and prints the median of a few rounds: the
# append writes a whole new image and renames it over the old one.
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
append_times=() cp_times=()
for ((r = 0; r < rounds; r++)); do
  cp image.kst edit.kst
  sync
  start=$(now); cp image.kst copy.kst; end=$(now)
  cp_times+=($((end - start)))
  start=$(now); "$dir/cassmak" -append -o edit.kst file.bin >/dev/null; end=$(now)
  append_times+=($((end - start)))
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
m_append=$(median "${append_times[@]}") m_cp=$(median "${cp_times[@]}")
printf 'append %.2f ms, cp %.2f ms, ratio %.2f (image of %d bytes)\n' \
  "$(echo "$m_append / 1000000" | bc -l)" "$(echo "$m_cp / 1000000" | bc -l)" \
  "$(echo "$m_append / $m_cp" | bc -l)" "$(wc -c <image.kst)"
