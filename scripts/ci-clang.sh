#!/usr/bin/env bash
# CI job: the whole embedded-host suite and the golden identity test built
# with clang. The Octave suite stays with the g++ job, which also builds
# the toolbox's make.m with clang (octave_make_clang).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
ci_need 'command -v clang++' clang
ci_need 'command -v cmake' cmake
ci_need 'command -v python3' python3
ci_need '[ -f /usr/include/gtest/gtest.h ]' libgtest-dev
ci_install

build=build-clang
jobs=$(nproc)
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_TESTS=ON -DQIR_OCTAVE=OFF
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
echo "clang job: $(clang++ --version | head -1)"
