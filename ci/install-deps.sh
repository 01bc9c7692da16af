#!/usr/bin/env bash
# Installs with apt-get (as root) what a fresh Debian machine lacks for the
# stages of ci/: each program or file a stage uses, and its package.
source "$(dirname "$0")/common.sh"

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
command -v clang++ >/dev/null || missing+=(clang)
command -v clang-tidy >/dev/null || missing+=(clang-tidy)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v readelf >/dev/null || missing+=(binutils)
command -v pkg-config >/dev/null || missing+=(pkgconf)
command -v lintian >/dev/null || missing+=(lintian)
command -v strace >/dev/null || missing+=(strace)
command -v abidiff >/dev/null || missing+=(abigail-tools)
[ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -e /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  missing+=(libclang-rt-dev)
command -v emcc >/dev/null || missing+=(emscripten)
command -v chromium >/dev/null || missing+=(chromium)
command -v firefox-esr >/dev/null || missing+=(firefox-esr)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
# The Python module (pybind11 and Python's headers) and its tests (pytest).
/usr/bin/python3 -c 'import pybind11' 2>/dev/null || missing+=(python3-pybind11)
/usr/bin/python3 -c 'import os, sys, sysconfig; sys.exit(not os.path.exists(sysconfig.get_paths()["include"] + "/Python.h"))' ||
  missing+=(python3-dev)
/usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
# The Python package built by pip in a venv (ci/python-package.sh).
compgen -G '/usr/share/python-wheels/pip-*.whl' >/dev/null || missing+=(python3-venv)
/usr/bin/python3 -c 'import setuptools' 2>/dev/null || missing+=(python3-setuptools)
/usr/bin/python3 -c 'import wheel' 2>/dev/null || missing+=(python3-wheel)
/usr/bin/python3 -c 'import mypy' 2>/dev/null || missing+=(python3-mypy)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -e /usr/src/googletest/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v groff >/dev/null || missing+=(groff-base)
command -v zip >/dev/null || missing+=(zip)
command -v mandoc >/dev/null || missing+=(mandoc)
command -v man >/dev/null || missing+=(man-db)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
