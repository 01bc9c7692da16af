#!/usr/bin/env bash
# The install as a packager stages it and the library example built on an
# install, which are tests of the build (install_test, library_example):
# run here by name, and none of them may be skipped.
source "$(dirname "$0")/common.sh"

part "install (stripped, with DESTDIR), and the library example built on it"
cmake --preset default >/dev/null
cmake --build --preset default
log=$(mktemp)
ctest --preset default -R '^(install_test|library_example)$' | tee "$log"
grep -q '100% tests passed, 0 tests failed out of 2$' "$log" ||
  { echo "install_test and library_example must both run"; exit 1; }
if grep -q 'Skipped' "$log"; then
  echo "a skipped install test: ci/install-deps.sh installs what it needs"
  exit 1
fi
rm -f "$log"
