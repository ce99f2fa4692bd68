#!/usr/bin/env bash
# CI job: ARM64 cross build (g++-aarch64-linux-gnu, GoogleTest built from
# /usr/src/googletest for the target), the embedded-host test suites and the
# golden identity test run under qemu-aarch64. The NEON kernel is the one
# chosen there; the kernel tests compare it with the scalar kernel.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
ci_need 'command -v aarch64-linux-gnu-g++' g++-aarch64-linux-gnu
ci_need 'command -v qemu-aarch64' qemu-user
ci_need '[ -f /usr/src/googletest/CMakeLists.txt ]' googletest
ci_need 'command -v cmake' cmake
ci_need 'command -v python3' python3
ci_install

export QEMU_LD_PREFIX=/usr/aarch64-linux-gnu
build=build-aarch64
toolchain=$PWD/cmake/toolchain-aarch64-linux-gnu.cmake
jobs=$(nproc)

gtest_dir=$(ci_gtest "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain")

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${ci_build_type[@]}" \
  -DCMAKE_FIND_ROOT_PATH="$PWD/$build/gtest" -DGTest_DIR="$gtest_dir" \
  -DQIR_TESTS=ON -DQIR_OCTAVE=OFF -DQIR_MATLAB=OFF -DQIR_PYTHON=OFF
# The host's and the modules' suites and the golden test; the command-line
# tests and the README checks drive the qir program from Python and stay
# with the native jobs.
targets=(host_tests core_tests fast_tests train_tests perf_tests qir qir_bench qir_golden_calls)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
ctest --test-dir "$build" --output-on-failure -j "$jobs" -E '^cli\.[A-Za-z]+$|^docs\.|^scripts\.|^octave|_NOT_BUILT$'
echo "aarch64 job: $(uname -m) host, $(aarch64-linux-gnu-g++ -dumpversion) cross compiler, tests under qemu-aarch64"
