#!/usr/bin/env bash
# Last: the README's test command, as a reader runs it.
source "$(dirname "$0")/common.sh"
source ci/readme-data.sh

command=$(readme_test_command)
[ -n "$command" ] || { echo "README.md's Quick start gives no command that runs the tests"; exit 1; }
part "tests (the README's test command: $command)"
$command
