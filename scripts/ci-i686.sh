#!/usr/bin/env bash
# CI job: 32-bit x86 build (g++ -m32, SSE2 arithmetic added by the build),
# the embedded-host suites and the golden identity test.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
[ -d /usr/lib/gcc/x86_64-linux-gnu/12/32 ] || need+=(g++-multilib)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null || need+=(cmake)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

build=build-i686
jobs=$(nproc)
export CFLAGS=-m32 CXXFLAGS=-m32 LDFLAGS=-m32
if [ ! -f "$build/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/gtest-build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$build/gtest"
  cmake --build "$build/gtest-build" -j "$jobs"
  cmake --install "$build/gtest-build"
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_OCTAVE=OFF -DQIR_MATLAB=OFF \
  -DGTest_DIR="$PWD/$build/gtest/lib/cmake/GTest"
targets=(host_tests core_tests train_tests perf_tests qir qir_golden_calls)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
ctest --test-dir "$build" --output-on-failure -j "$jobs" -E '^cli\.|^bench|_NOT_BUILT$'
echo "i686 job: $(file -b "$build"/modules/qir_train.so | cut -d, -f1-2)"
