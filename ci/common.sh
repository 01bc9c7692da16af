# shellcheck shell=bash
# Sourced by every stage script of ci/: strict mode, the repository's root as
# the working folder, and the facts the stages share, each derived from where
# it is kept rather than written out again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The project's version, from project() in CMakeLists.txt ("1.3").
project_version() {
  sed -n 's/^project(cassmak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt
}

# The library's version ("1.3.0") as the build in folder $1 made it into
# the headers' macros (cassmak/version.h).
library_version() {
  sed -n 's/^#define CASSMAK_VERSION_STRING "\(.*\)"$/\1/p' "$1/include/cassmak/version.h"
}

# The casstool commands that change images: those whose usage line offers
# --dry-run, asked of casstool itself (its general help lists its command
# table), so that a new changing command needs no line here.
changing_commands() {
  local casstool=$1 command usage
  for command in $("$casstool" --help | sed -n '/^Commands:$/,/^$/s/^  \([a-z]\+\) .*$/\1/p'); do
    # Read whole before it is searched: grep -q would stop reading at the
    # first match, and casstool's end on the closed pipe fail the search.
    usage=$("$casstool" "$command" --help)
    sed '/^$/q' <<<"$usage" | grep -q -- '--dry-run' && echo "$command"
  done
  return 0
}

# Prints a heading for a stage's part, as the log of the whole run shows it.
part() {
  echo "== $*"
}
