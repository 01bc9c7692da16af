#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (seconds, 20
# by default). New inputs go to a scratch corpus; the seeds in fuzz/corpus
# stay as they are. Any finding fails the run and leaves its crash file in
# build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
findings=build-fuzz/findings
mkdir -p "$findings"
for target in parse_number tokenize import options reader roundtrip edit renumber; do
  work=$(mktemp -d)
  echo "fuzzing $target for ${seconds}s"
  if ! build-fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -close_fd_mask=3 \
      -artifact_prefix="$findings/${target}-" "$work" "fuzz/corpus/$target" >"$work.log" 2>&1; then
    tail -n 40 "$work.log"
    echo "fuzzing $target: finding in $findings"
    exit 1
  fi
  tail -n 1 "$work.log"
  rm -rf "$work" "$work.log"
done
