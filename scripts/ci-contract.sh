#!/usr/bin/env bash
# CI job that tests the golden identity test itself: a build that contracts
# multiply-adds into FMA instructions must fail it. Succeeds only if it does.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ci-lib.sh

build=build-contract
if ! grep -qw fma /proc/cpuinfo; then
  echo "contract job: skipped, this processor has no FMA"
  exit 0
fi
cmake -S . -B "$build" "${ci_build_type[@]}" -DQIR_TESTS=ON -DQIR_OCTAVE=OFF \
  -DQIR_FP_CONTRACT=fast -DCMAKE_CXX_FLAGS=-mfma
cmake --build "$build" -j "$(nproc)" --target qir_train qir_perf qir qir_golden_calls
if ctest --test-dir "$build" -R '^golden_identity$' --output-on-failure; then
  echo "contract job: the golden test passed a build with contraction: it guards nothing"
  exit 1
fi
echo "contract job: the golden test caught the contracted build, as it must"
