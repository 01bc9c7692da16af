#!/usr/bin/env bash
# The build and its tests with warnings as errors (-Wall -Wextra -Wpedantic
# -Werror, RelWithDebInfo), among them the shared library's ABI against
# 1.3's, here with the types (the build has debug information).
source "$(dirname "$0")/common.sh"

part "warnings as errors (-Wall -Wextra -Wpedantic -Werror), and the ABI check with types"
cmake --workflow --preset werror
# abidiff (abigail-tools) found: the ABI check is among the tests that ran.
grep -q '^[0-9]*/[0-9]* Test: library_abi$' build-werror/Testing/Temporary/LastTest.log ||
  { echo "library_abi did not run (abidiff, from abigail-tools, missing?)"; exit 1; }
