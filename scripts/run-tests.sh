#!/usr/bin/env bash
# Builds everything and runs every test suite (embedded host, GNU Octave,
# Python). On a fresh Debian 12 machine, as root, it first installs what is
# missing.
#   scripts/run-tests.sh             plain build in build/
#   scripts/run-tests.sh --sanitize  AddressSanitizer + UBSan build in build-asan/
# Every option the build depends on is given here, so an earlier configure
# (the demo's, say) never changes what is built or tested. It fails when a
# suite whose tools are installed did not run in full: GNU Octave and Python
# (neither runs in the sanitizer build). QIR_CONFIGURE_ONLY=1 stops after
# configuring (tests/scripts/ checks how the README's blocks configure);
# QIR_CI_PREPARE=1 stops once the packages are installed (.ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v mkoctfile >/dev/null || missing+=(octave octave-dev)
# The picture tests look at every picture as rsvg-convert draws it.
command -v rsvg-convert >/dev/null || missing+=(librsvg2-bin)
# The Python package: Debian's interpreter and its packages (PyPI not needed).
[ -x /usr/bin/python3 ] || missing+=(python3)
for package in pybind11-dev python3-dev python3-numpy python3-sklearn python3-pandas python3-dask \
               python3-distributed python3-pytest; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
[ "${QIR_CI_PREPARE:-}" = 1 ] && exit 0

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_SANITIZE=OFF)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DQIR_SANITIZE=ON)
fi
flags+=(-DQIR_TESTS=ON -DQIR_OCTAVE=ON -DQIR_PYTHON=ON -DQIR_MATLAB=ON -DQIR_FP_CONTRACT=off)

jobs=$(nproc)
cmake -S . -B "$build" "${flags[@]}"
[ -n "${QIR_CONFIGURE_ONLY:-}" ] && exit 0
cmake --build "$build" -j "$jobs"
log=$build/ctest-output.txt
ctest --test-dir "$build" --output-on-failure -j "$jobs" | tee "$log"

# suite_ran LABEL NAME: the tests labelled LABEL exist and every one of them
# passed; a skipped test does not count.
suite_ran() {
  local label=$1 name=$2 listed=0 passed=0 test
  while read -r test; do
    listed=$((listed + 1))
    grep -F " $test " "$log" | grep -q ' Passed ' && passed=$((passed + 1))
  done < <(ctest --test-dir "$build" -N -L "^$label\$" | sed -n 's/^ *Test *#[0-9]*: //p')
  echo "$name tests: $passed of $listed passed"
  if [ "$listed" -eq 0 ] || [ "$passed" -ne "$listed" ]; then
    echo "run-tests: the $name suite is installed but did not run in full" >&2
    return 1
  fi
}
if [ "$build" = build ]; then
  suite_ran octave "GNU Octave"
  suite_ran python Python
fi
