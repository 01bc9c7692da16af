# shellcheck shell=bash
# Sourced by the stages that hold the README to what they build: the README
# read as data, each fact from its one place there. The docs keep these
# lines in this form.

# The Quick start's command that builds and runs the tests
# ("cmake --workflow --preset test   # build with the tests and run them").
readme_test_command() {
  sed -n '/^## Quick start$/,/^## /p' README.md |
    sed -n 's/^\(cmake --workflow --preset [a-z-]*\) *# .*\btests\b.*$/\1/p'
}

# The lintian tags the paragraph on the packages accepts, in backquotes.
readme_lintian_infos() {
  sed -n '/^<!-- lintian infos -->$/,/^<!-- end of lintian infos -->$/p' README.md
}

# The size the sizes table states for the executable NAME, in bytes.
readme_size() {
  sed -n '/^<!-- sizes -->$/,/^<!-- end of sizes -->$/p' README.md |
    sed -n "s/^| \`$1\` .* | \([0-9,]*\) |\$/\1/p" | tr -d ,
}

# The packages' install and removal commands, as the README gives them:
#   sudo dpkg -i build-package/*_V_A.deb   # and later: sudo dpkg -r P...
# each without its sudo.
readme_dpkg_install() {
  sed -n 's/^sudo \(dpkg -i [^#]*[^ #]\) *# and later: sudo dpkg -r .*$/\1/p' README.md
}
readme_dpkg_remove() {
  sed -n 's/^sudo dpkg -i [^#]*# and later: sudo \(dpkg -r .*[^ ]\) *$/\1/p' README.md
}
