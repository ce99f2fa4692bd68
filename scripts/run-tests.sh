#!/usr/bin/env bash
# Builds everything and runs every test suite (embedded host and GNU Octave).
# On a fresh Debian 12 machine, as root, it first installs what is missing.
#   scripts/run-tests.sh             plain build in build/
#   scripts/run-tests.sh --sanitize  AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
command -v python3 >/dev/null || missing+=(python3)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v mkoctfile >/dev/null || missing+=(octave octave-dev)
# The Python package: Debian's interpreter and its packages (PyPI not needed).
[ -x /usr/bin/python3 ] || missing+=(python3)
for package in pybind11-dev python3-dev python3-numpy python3-sklearn python3-dask \
               python3-distributed python3-pytest; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DQIR_SANITIZE=ON)
fi

jobs=$(nproc)
cmake -S . -B "$build" "${flags[@]}"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
