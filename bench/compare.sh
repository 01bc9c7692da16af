#!/usr/bin/env bash
# Times whole runs of cassmak on its largest inputs side by side with cp of
# the same file, and prints the ratios; then casstool list over 2,000 images
# against cat of the same files (bench/list.sh). Usage: bench/compare.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
# CASSMAK_BENCH_DIR names a Release build folder of one's own instead of the
# bench preset's, for machines where several people build side by side.
runs=${1:-200}
if [ -n "${CASSMAK_BENCH_DIR:-}" ]; then
  cmake -S . -B "$CASSMAK_BENCH_DIR" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$CASSMAK_BENCH_DIR" --target cassmak >/dev/null
  exe=$(cd "$CASSMAK_BENCH_DIR" && pwd)/cassmak
else
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target cassmak >/dev/null
  exe=$PWD/build-bench/cassmak
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 65533 /dev/urandom >big.bin

# The largest BASIC source of typical lines whose image still fits.
line='PRINT "VALUE OF A IS";A(I)*2+B:IF X>Y THEN GOSUB 2000:FOR J=1 TO 10:NEXT J:DATA 1,2,"A:B":REM CHECK'
source_of() { awk -v n="$1" -v text="$line" 'BEGIN { for (i = 1; i <= n; i++) print i * 10, text }'; }
low=1 high=2000
while ((low < high)); do
  mid=$(((low + high + 1) / 2))
  source_of "$mid" >big.bas
  if "$exe" -b -o probe.kst big.bas >/dev/null 2>&1; then low=$mid; else high=$((mid - 1)); fi
done
source_of "$low" >big.bas
"$exe" -b -o probe.kst big.bas >/dev/null
echo "binary input: $(wc -c <big.bin) bytes; BASIC source: $(wc -c <big.bas) bytes, $low lines," \
  "image $(($(wc -c <probe.kst) - 68)) bytes; 5 rounds of $runs runs each"

source "$repo/bench/timing.sh"

# Rounds of alternating batches, so that both commands see the same machine;
# the median ratio of the rounds is the figure, as single batches are noisy.
rounds=5
compare() {
  local what=$1 input=$2
  shift 2
  time_runs "$@" -o out.kst "$input" >/dev/null
  local ratios="" tool copy tool_sum=0 copy_sum=0
  for ((r = 0; r < rounds; r++)); do
    tool=$(time_runs "$@" -o out.kst "$input")
    copy=$(time_runs cp "$input" out.kst)
    tool_sum=$((tool_sum + tool)) copy_sum=$((copy_sum + copy))
    ratios+="$(awk -v t="$tool" -v c="$copy" 'BEGIN { print t / c }')"$'\n'
  done
  awk -v w="$what" -v t="$tool_sum" -v c="$copy_sum" -v n="$((runs * rounds))" \
    -v m="$(printf '%s' "$ratios" | median)" 'BEGIN {
    printf "%-7s cassmak %7.1f us/run   cp %7.1f us/run   median ratio %.2f\n", w, t / n / 1000, c / n / 1000, m }'
}

compare binary big.bin "$exe"
compare BASIC big.bas "$exe" -b

echo
bash "$repo/bench/list.sh"
