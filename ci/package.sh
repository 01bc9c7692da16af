#!/usr/bin/env bash
# The Debian packages (and the Windows zip the package workflow makes beside
# them): built twice and compared byte for byte, lintian, their control
# fields, files and changelogs, the library's shlibs, symbols and trigger,
# the README's install and removal commands as written in a private dpkg
# root, then installed on this machine, run, built on and removed. Root
# (dpkg -i).
source "$(dirname "$0")/common.sh"
source ci/readme-data.sh

part "Debian packages: build twice and compare, lintian, inspect, install, run, remove"
version=$(project_version)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
rm -rf build-package
cmake --workflow --preset package
library_version=$(library_version build-package)
# One package per install component: cassmak (the tools), libcassmak1 (the
# shared library), libcassmak-dev (headers, static library, CMake and
# pkg-config files) and, where the Python module is built, python3-cassmak.
# Each holds its part of the installed tree with the man pages, the README
# and the changelog compressed, the changelog in Debian's form instead of
# CHANGELOG.md, and its own copyright and changelog.
declare -A packaged_files=(
  [cassmak]="bin/cassmak bin/casstool share/man/man1/cassmak.1.gz share/man/man1/casstool.1.gz
    share/bash-completion/completions/cassmak share/bash-completion/completions/casstool
    share/doc/cassmak/README.md.gz share/doc/cassmak/changelog.gz share/doc/cassmak/copyright"
  [libcassmak1]="lib/$multiarch/libcassmak.so.1 lib/$multiarch/libcassmak.so.$library_version
    share/doc/libcassmak1/changelog.gz share/doc/libcassmak1/copyright"
  [libcassmak-dev]="include/cassmak/cassmak.h include/cassmak/version.h
    lib/$multiarch/libcassmak.so lib/$multiarch/libcassmak.a
    lib/$multiarch/cmake/cassmak/cassmakConfig.cmake lib/$multiarch/cmake/cassmak/cassmakConfigVersion.cmake
    lib/$multiarch/pkgconfig/cassmak.pc
    share/doc/libcassmak-dev/changelog.gz share/doc/libcassmak-dev/copyright"
  [python3-cassmak]="lib/python3/dist-packages/cassmak/_cassmak.cpython-$(/usr/bin/python3 -c 'import sys; print("%d%d" % sys.version_info[:2])')-$multiarch.so
    lib/python3/dist-packages/cassmak/__init__.py lib/python3/dist-packages/cassmak/__init__.pyi
    lib/python3/dist-packages/cassmak/__main__.py lib/python3/dist-packages/cassmak/py.typed
    share/doc/python3-cassmak/changelog.gz share/doc/python3-cassmak/copyright"
)
debs=(build-package/*_"${version}"_"$arch".deb)
# pybind11 and Python's headers are installed (ci/install-deps.sh): the
# module is built.
for package in "${!packaged_files[@]}"; do
  test -f "build-package/${package}_${version}_$arch.deb" || { echo "no package $package"; exit 1; }
done
packages=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)

# The same commit built again from scratch, in another folder, without git
# and with the commit's time given instead: the same bytes, package by package.
commit_time=$(git log -1 --format=%ct)
again=$(mktemp -d)
tar --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$again"
(cd "$again" && SOURCE_DATE_EPOCH=$commit_time cmake --workflow --preset package >/dev/null)
for deb in "${debs[@]}"; do
  cmp "$deb" "$again/${deb}" || { echo "two builds of $deb differ"; exit 1; }
  echo "two builds give the same package: $(sha256sum "$deb")"
done
test "$(ls "$again"/build-package/*.deb | wc -l)" = "${#debs[@]}" || { echo "the second build made other packages"; exit 1; }
zip_file=build-package/cassmak-${version}-windows-x86_64.zip
cmp "$zip_file" "$again/$zip_file" || { echo "two builds of the Windows zip differ"; exit 1; }
echo "and the same Windows zip: $(sha256sum "$zip_file")"
rm -rf "$again"

readme_tags=$(readme_lintian_infos)
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  # lintian: no error and no warning; an info or pedantic tag only where the
  # README's paragraph on the packages names it.
  lintian --pedantic --display-info --fail-on none "$deb" >"$deb.lintian" ||
    { cat "$deb.lintian"; echo "lintian did not run"; exit 1; }
  cat "$deb.lintian"
  if grep -q '^[EW]: ' "$deb.lintian"; then
    echo "lintian reports errors or warnings for $package"
    exit 1
  fi
  for tag in $(sed -n 's/^[IPX]: [^ ]* \([^ ]*\).*/\1/p' "$deb.lintian" | sort -u); do
    grep -qF -- "\`$tag\`" <<<"$readme_tags" || { echo "lintian: $tag is not explained in README.md"; exit 1; }
  done
  dpkg-deb -I "$deb" | tee "$deb.info"
  grep -q '^ Maintainer: cassmak developers <cassmak@users.noreply.github.com>$' "$deb.info"
  grep -q '^ Depends: .*libc6\|^ Depends: libcassmak1 (= '"$version"')' "$deb.info"
  grep -q '^ Description: ' "$deb.info"
  if grep -q '^ Homepage: ' "$deb.info"; then
    echo "$package names a homepage, and the project has none"
    exit 1
  fi
  dpkg-deb -c "$deb" | awk '{ print $6 }' >"$deb.files"
  for file in ${packaged_files[$package]:-}; do
    grep -qx "./usr/$file" "$deb.files" || { echo "not in $package: $file"; exit 1; }
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/doc/$package/changelog.gz" | gzip -dc |
    dpkg-parsechangelog -l - -S Version | grep -qx "$version"
  rm -f "$deb.info" "$deb.files" "$deb.lintian"
done
# The tools' description names every command that changes an image, as
# casstool's command table has them.
commands=$(changing_commands build-package/casstool)
[ -n "$commands" ] || { echo "casstool names no command that changes an image"; exit 1; }
description=$(dpkg-deb -f "build-package/cassmak_${version}_$arch.deb" Description)
for command in $commands; do
  grep -qw "$command" <<<"$description" ||
    { echo "the cassmak package's description does not name $command"; exit 1; }
done
echo "the description names each changing command:" $commands
# A shared library as Debian has it: shlibs, symbols and the ldconfig trigger,
# no maintainer script.
lib_deb=build-package/libcassmak1_${version}_$arch.deb
control=$(mktemp -d)
dpkg-deb -e "$lib_deb" "$control"
grep -qx "libcassmak 1 libcassmak1 (>= $version)" "$control/shlibs"
grep -q '^ (symver)CASSMAK_1 ' "$control/symbols"
grep -qx 'activate-noawait ldconfig' "$control/triggers"
test ! -e "$control/postinst" && test ! -e "$control/postrm"
rm -rf "$control"

# The README's install and removal commands, word for word, in a dpkg root
# of their own that knows the system's packages these depend on (their
# status alone: no file of theirs is needed, and no trigger is run there).
install=$(readme_dpkg_install)
remove=$(readme_dpkg_remove)
[ -n "$install" ] && [ -n "$remove" ] || { echo "README.md gives no dpkg -i and dpkg -r line"; exit 1; }
root=$(mktemp -d)
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
for dependency in $(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; done |
                    tr ',' '\n' | sed 's/^ *\([^ ]*\).*/\1/' | sort -u | grep -vxF "$packages"); do
  dpkg-query -s "$dependency" >>"$root/var/lib/dpkg/status"
  echo >>"$root/var/lib/dpkg/status"
  touch "$root/var/lib/dpkg/info/$(dpkg-query -W -f='${binary:Package}' "$dependency").list"
done
echo "in a private root: $install; $remove"
# shellcheck disable=SC2086 # the README's words, its glob included
dpkg --root="$root" --no-triggers ${install#dpkg } >/dev/null
for package in $packages; do
  test "$(dpkg-query --root="$root" -W -f='${db:Status-Status}' "$package")" = installed ||
    { echo "README.md's '$install' does not install $package"; exit 1; }
done
# shellcheck disable=SC2086
dpkg --root="$root" --no-triggers ${remove#dpkg } ||
  { echo "README.md's '$remove' fails once every package is installed: it must name each of:" $packages; exit 1; }
for package in $packages; do
  test "$(dpkg-query --root="$root" -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ||
    { echo "README.md's '$remove' leaves $package installed"; exit 1; }
done
test ! -e "$root/usr" || { find "$root/usr" -type f; echo "left behind by '$remove'"; exit 1; }
rm -rf "$root"

# On this machine: installed, run, built on, removed.
dpkg -i "${debs[@]}"
work=$(mktemp -d)
/usr/bin/cassmak -b -n 1 -o "$work/tape.kst" examples/primes.bas
/usr/bin/cassmak -append -o "$work/tape.kst" examples/hello.bin
/usr/bin/casstool list "$work/tape.kst"
/usr/bin/casstool --version
bash -c 'source /usr/share/bash-completion/completions/casstool && complete -p casstool'
# The example built on the installed packages, both ways, against the tools.
bash examples/library/check.sh /usr "$work/example"
# The Python example on the installed module, against the tools.
mkdir "$work/folder"
cp examples/primes.bas examples/hello.bin "$work/folder/"
(cd / && /usr/bin/python3 "$OLDPWD/python/examples/pack_folder.py" "$work/folder" "$work/python.kst")
/usr/bin/cassmak -append -n 1 -m hello -o "$work/tools.kst" "$work/folder/hello.bin" >/dev/null
/usr/bin/cassmak -append -b -n 2 -m primes -o "$work/tools.kst" "$work/folder/primes.bas" >/dev/null
cmp "$work/python.kst" "$work/tools.kst" || { echo "the installed Python module packs otherwise than cassmak"; exit 1; }
rm -rf "$work"
# shellcheck disable=SC2086
dpkg -r $packages
for package in "${!packaged_files[@]}"; do
  for file in ${packaged_files[$package]}; do
    test ! -e "/usr/$file" || { echo "left behind by dpkg -r: /usr/$file"; exit 1; }
  done
done
