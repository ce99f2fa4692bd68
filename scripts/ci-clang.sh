#!/usr/bin/env bash
# CI job: the whole embedded-host suite and the golden identity test built
# with clang, then the toolbox's make.m with clang as mkoctfile's compiler
# (octave_make_clang; the rest of the Octave suite runs with g++ in the
# fresh-root job, where clang is not installed).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
ci_need 'command -v clang++' clang
ci_need 'command -v cmake' cmake
ci_need 'command -v python3' python3
ci_need '[ -f /usr/include/gtest/gtest.h ]' libgtest-dev
ci_need 'command -v mkoctfile' octave-dev
ci_need 'command -v octave-cli' octave
ci_install

build=build-clang
jobs=$(nproc)
CXX=clang++ cmake -S . -B "$build" "${ci_build_type[@]}" -DQIR_TESTS=ON -DQIR_OCTAVE=OFF
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
# The same build with the Octave modules added, for the one Octave test
# that needs clang.
cmake -S . -B "$build" -DQIR_OCTAVE=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -R '^octave_make_clang$' | tee "$build/make-clang.txt"
grep -q '100% tests passed, 0 tests failed out of 1$' "$build/make-clang.txt" || {
  echo "clang job: octave_make_clang did not run" >&2
  exit 1
}
echo "clang job: $(clang++ --version | head -1)"
