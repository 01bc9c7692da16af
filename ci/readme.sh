#!/usr/bin/env bash
# The sizes the README states, against the executables of the Debian package
# and the Windows zip: each within 2% of the built file. Builds the package
# workflow when its files are not there.
source "$(dirname "$0")/common.sh"
source ci/readme-data.sh

part "the README's sizes of the executables, against the package and the zip"
version=$(project_version)
arch=$(dpkg --print-architecture)
deb=build-package/cassmak_${version}_$arch.deb
zip_file=build-package/cassmak-${version}-windows-x86_64.zip
[ -f "$deb" ] && [ -f "$zip_file" ] || cmake --workflow --preset package >/dev/null
work=$(mktemp -d)
dpkg-deb --fsys-tarfile "$deb" | tar -xf - -C "$work" ./usr/bin
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip_file")
for built in "$work/usr/bin/cassmak" "$work/usr/bin/casstool" \
             "$work/cassmak-${version}-windows-x86_64/cassmak.exe" \
             "$work/cassmak-${version}-windows-x86_64/casstool.exe"; do
  name=$(basename "$built")
  actual=$(stat -c %s "$built")
  stated=$(readme_size "$name")
  [ -n "$stated" ] || { echo "README.md states no size for $name"; exit 1; }
  echo "$name: $actual bytes built, $stated in README.md"
  if ((100 * (actual > stated ? actual - stated : stated - actual) > 2 * stated)); then
    echo "README.md's size of $name is more than 2% away from the built one: measure again"
    exit 1
  fi
done
rm -rf "$work"
