#!/usr/bin/env bash
# Without GoogleTest: the README's example workflow builds without looking
# for it, and a build that asks for the tests stops with a message naming
# the package to install.
source "$(dirname "$0")/common.sh"

part "without GoogleTest: the example workflow, and a clear message when tests are asked for"
cmake --workflow --preset example
if grep -q '^GTest_DIR' build-example/CMakeCache.txt; then
  echo "the example workflow looked for GoogleTest"
  exit 1
fi
scratch=$(mktemp -d)
if cmake -S . -B "$scratch" -DBUILD_TESTING=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$scratch.log" 2>&1 ||
    ! grep -q 'libgtest-dev' "$scratch.log"; then
  cat "$scratch.log"
  echo "configuring the tests without GoogleTest must fail and name libgtest-dev"
  exit 1
fi
rm -rf "$scratch" "$scratch.log"
