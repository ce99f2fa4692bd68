#!/usr/bin/env bash
# CI job: the whole embedded-host suite and the golden identity test built
# with clang. The Octave suite stays with the g++ job, which also builds
# the toolbox's make.m with clang (octave_make_clang).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v clang++ >/dev/null || need+=(clang)
command -v cmake >/dev/null || need+=(cmake)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
fi

build=build-clang
jobs=$(nproc)
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_OCTAVE=OFF
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
echo "clang job: $(clang++ --version | head -1)"
