#!/usr/bin/env bash
# Times one run of `casstool list` over a folder of 2,000 tape images of about
# 64 KiB each against `cat` of the same files, and prints the median ratio of
# a few rounds. Usage: bench/list.sh [images] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
# CASSMAK_BENCH_DIR names a Release build folder of one's own instead of the
# bench preset's, for machines where several people build side by side.
images=${1:-2000}
rounds=${2:-7}
if [ -n "${CASSMAK_BENCH_DIR:-}" ]; then
  cmake -S . -B "$CASSMAK_BENCH_DIR" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$CASSMAK_BENCH_DIR" --target cassmak casstool >/dev/null
  dir=$(cd "$CASSMAK_BENCH_DIR" && pwd)
else
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target cassmak casstool >/dev/null
  dir=$PWD/build-bench
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Each image: a 60,000-byte file and a 5,470-byte headless block, 65,540
# bytes in all; every payload different, so that nothing is shared.
for ((i = 0; i < images; i++)); do
  head -c 60000 /dev/urandom >file.bin
  head -c 5470 /dev/urandom >block.bin
  name=$(printf 'img%04d.kst' "$i")
  "$dir/cassmak" -n $((i % 100)) -o "$name" file.bin >/dev/null
  "$dir/cassmak" -append -hless -o "$name" block.bin >/dev/null
done
rm file.bin block.bin
set -- img*.kst
echo "$# images, $(cat -- "$@" | wc -c) bytes; $(nproc) cores, $(uname -m)," \
  "$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"

# Wall time of one command in nanoseconds, its output thrown away.
time_one() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $((end - start))
}

"$dir/casstool" list "$@" >listing.txt
"$dir/casstool" list --json "$@" | wc -l | grep -qx "$((2 * $#))"
tail -n 1 listing.txt
cat -- "$@" >/dev/null
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for mode in table json; do
  flags=()
  [ "$mode" = json ] && flags=(--json)
  ratios="" list_times="" cat_times=""
  for ((r = 0; r < rounds; r++)); do
    list_ns=$(time_one "$dir/casstool" list "${flags[@]}" -- "$@")
    cat_ns=$(time_one cat -- "$@")
    list_times+="$list_ns"$'\n' cat_times+="$cat_ns"$'\n'
    ratios+="$(awk -v l="$list_ns" -v c="$cat_ns" 'BEGIN { print l / c }')"$'\n'
  done
  awk -v m="$mode" -v l="$(printf '%s' "$list_times" | median)" \
    -v c="$(printf '%s' "$cat_times" | median)" -v r="$(printf '%s' "$ratios" | median)" \
    'BEGIN { printf "list %-5s %7.1f ms   cat %7.1f ms   median ratio %.2f (at most 1.5)\n",
             m, l / 1e6, c / 1e6, r }'
done
