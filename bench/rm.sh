#!/usr/bin/env bash
# Times one `casstool rm` of an entry in the middle of an image of 2,000
# entries (1,000 files of 65,465 bytes and 1,000 headless blocks of 65,531
# bytes, 65,533 bytes each on the tape: 125 MiB) against `cp` of that image,
# with hyperfine where it is installed (median of the runs), else with a
# plain loop (median of a few rounds). Both replace an existing file.
# Usage: bench/rm.sh [rounds] (CASSMAK_BENCH_DIR: a Release build folder;
# TMPDIR: where the image is made)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
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
if command -v hyperfine >/dev/null; then
  hyperfine -N -w 2 -r "$rounds" --export-json times.json \
    --prepare 'cp image.kst edit.kst' "$dir/casstool rm -q edit.kst 1001" \
    --prepare 'cp image.kst copy.kst' 'cp image.kst copy.kst' >/dev/null
  python3 -c '
import json, sys
rm, cp = (r["median"] for r in json.load(open("times.json"))["results"])
print("rm %.3f s, cp %.3f s, ratio %.2f (medians of %s runs)" % (rm, cp, rm / cp, sys.argv[1]))
' "$rounds"
  exit 0
fi
now() { date +%s.%N; }
rm_times=() cp_times=()
for ((r = 0; r < rounds; r++)); do
  cp image.kst edit.kst
  cp image.kst copy.kst
  start=$(now); cp image.kst copy.kst; end=$(now)
  cp_times+=("$(echo "$end - $start" | bc)")
  start=$(now); "$dir/casstool" rm -q edit.kst 1001; end=$(now)
  rm_times+=("$(echo "$end - $start" | bc)")
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
m_rm=$(median "${rm_times[@]}") m_cp=$(median "${cp_times[@]}")
printf 'rm %.3f s, cp %.3f s, ratio %.2f\n' "$m_rm" "$m_cp" "$(echo "$m_rm / $m_cp" | bc -l)"
