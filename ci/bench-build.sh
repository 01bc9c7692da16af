#!/usr/bin/env bash
# The benchmark builds (it is run by hand: bench/).
source "$(dirname "$0")/common.sh"

part "benchmark build"
cmake --preset bench >/dev/null
cmake --build --preset bench
