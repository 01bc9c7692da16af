#!/usr/bin/env bash
# The build and its tests with warnings as errors (-Wall -Wextra -Wpedantic
# -Werror, RelWithDebInfo), among them the shared library's ABI against
# 1.3's, here with the types (the build has debug information).
source "$(dirname "$0")/common.sh"

part "warnings as errors (-Wall -Wextra -Wpedantic -Werror), and the ABI check with types"
cmake --workflow --preset werror
# The ABI check ran and passed here, where the types are compared: not
# skipped for want of abidiff (abigail-tools).
log=$(mktemp)
ctest --preset werror -R '^library_abi$' | tee "$log"
grep -q '100% tests passed, 0 tests failed out of 1$' "$log" && ! grep -q 'Skipped' "$log" ||
  { echo "library_abi did not run"; exit 1; }
rm -f "$log"
