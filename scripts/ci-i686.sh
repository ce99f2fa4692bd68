#!/usr/bin/env bash
# CI job: 32-bit x86 build (g++ -m32, SSE2 arithmetic added by the build),
# the embedded-host suites and the golden identity test. Kernels built
# without 32-bit support refuse to run the tests; there they run under
# qemu-i386 instead.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
# g++-12-multilib, not g++-multilib: that one conflicts with the aarch64
# cross compiler of the aarch64 job.
ci_need '[ -d /usr/lib/gcc/x86_64-linux-gnu/12/32 ]' g++-12-multilib
ci_need '[ -f /usr/src/googletest/CMakeLists.txt ]' googletest
ci_need 'command -v cmake' cmake
ci_need 'command -v python3' python3
ci_need 'command -v qemu-i386' qemu-user
ci_install

build=build-i686
jobs=$(nproc)
# The one header link g++-multilib would add: <asm/...> for -m32 (the x86
# kernel headers serve both widths).
mkdir -p "$build/include"
ln -sfn /usr/include/x86_64-linux-gnu/asm "$build/include/asm"
export CFLAGS="-m32 -isystem $PWD/$build/include" CXXFLAGS="-m32 -isystem $PWD/$build/include"
export LDFLAGS=-m32
gtest_dir=$(ci_gtest "$build")
launcher=()
# Under the emulator the kernel suites keep the scalar and SSE2 kernels (the
# 32-bit arithmetic that matters); the others run natively in the x86-64 jobs.
skipped=''
probe=$build/runs-natively
echo 'int main() { return 0; }' | g++ -m32 -x c++ - -o "$probe"
if ! "$probe" 2>/dev/null; then
  launcher=(-DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v qemu-i386)")
  skipped='|/"(avx2|avx512|neon)"$'
  echo "i686 job: this kernel does not run 32-bit programs; the tests run under qemu-i386"
fi
cmake -S . -B "$build" "${ci_build_type[@]}" -DQIR_TESTS=ON -DQIR_OCTAVE=OFF -DQIR_MATLAB=OFF -DQIR_PYTHON=OFF \
  -DGTest_DIR="$gtest_dir" "${launcher[@]}"
targets=(host_tests core_tests fast_tests train_tests perf_tests qir qir_golden_calls)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
ctest --test-dir "$build" --output-on-failure -j "$jobs" -E "^cli\\.[A-Za-z]+\$|^docs\\.|^scripts\\.|^bench|_NOT_BUILT\$$skipped"
echo "i686 job: $(file -b "$build"/modules/qir_train.so | cut -d, -f1-2)"
