#!/usr/bin/env bash
# Every libFuzzer target for a bounded time: 20 seconds each, or the seconds
# given.
source "$(dirname "$0")/common.sh"

seconds=${1:-20}
part "fuzzing, $seconds seconds a target"
bash fuzz/run.sh "$seconds"
