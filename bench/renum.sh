#!/usr/bin/env bash
# Times whole runs of `casstool renum` of a BASIC source of about 64 KB (as
# large as cassmak -b takes, every line with references), and of `casstool
# add --basic` of it to a new tape, against `cassmak -b` of the same source,
# in alternating batches, and prints the median ratio of the rounds. Usage: bench/renum.sh [runs] (CASSMAK_BENCH_DIR:
# a Release build folder of one's own).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
runs=${1:-200}
dir=${CASSMAK_BENCH_DIR:-$PWD/build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target cassmak casstool >/dev/null
dir=$(cd "$dir" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

line='IF X>Y THEN GOSUB %d:ON I GOTO %d,%d:PRINT "GOTO 10";A$:REM GOTO 10'
awk -v text="$line" 'BEGIN { for (i = 1; ; i++) {
    s = sprintf("%d " text, i * 10, (i % 50 + 1) * 10, i * 10, (i > 1 ? i - 1 : 1) * 10)
    if (total + length(s) + 1 > 65535) break
    print s; total += length(s) + 1 } }' >big.bas
"$dir/cassmak" -b -o probe.kst big.bas >/dev/null
echo "source: $(wc -c <big.bas) bytes, $(wc -l <big.bas) lines, image $(($(wc -c <probe.kst) - 68)) bytes;" \
  "5 rounds of $runs runs each"

source "$repo/bench/timing.sh"
# Each run of add makes a tape of its own, as cassmak -b makes its output
# afresh; adding to the tape of the run before would read it first.
added=0
add_fresh() { "$dir/casstool" add "new$((added += 1)).kst" big.bas --basic -q; }
ratios="" add_ratios="" renum_sum=0 add_sum=0 import_sum=0
for ((r = 0; r < 5; r++)); do
  renum=$(time_runs "$dir/casstool" renum big.bas --start 100 --step 5 -o out.bas)
  import=$(time_runs "$dir/cassmak" -b -o out.kst big.bas)
  add=$(time_runs add_fresh)
  rm -f new*.kst
  renum_sum=$((renum_sum + renum)) import_sum=$((import_sum + import)) add_sum=$((add_sum + add))
  ratios+="$(awk -v a="$renum" -v b="$import" 'BEGIN { print a / b }')"$'\n'
  add_ratios+="$(awk -v a="$add" -v b="$import" 'BEGIN { print a / b }')"$'\n'
done
awk -v a="$renum_sum" -v c="$add_sum" -v b="$import_sum" -v n="$((runs * 5))" \
  -v m="$(printf '%s' "$ratios" | median)" -v k="$(printf '%s' "$add_ratios" | median)" 'BEGIN {
  printf "cassmak -b       %7.1f us/run\n", b / n / 1000
  printf "renum            %7.1f us/run   median ratio %.2f\n", a / n / 1000, m
  printf "add --basic      %7.1f us/run   median ratio %.2f\n", c / n / 1000, k }'
