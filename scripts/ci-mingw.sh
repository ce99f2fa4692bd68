#!/usr/bin/env bash
# CI job: Windows x86-64 cross build with MinGW-w64 (both modules, the
# embedded host as a DLL and the golden test's driver), then the golden
# test's module calls under wine. wine64 installs in about half a minute; if
# it cannot be installed the job still proves the modules compile and link.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
ci_need 'command -v x86_64-w64-mingw32-g++-posix' g++-mingw-w64-x86-64-posix
ci_need '[ -f /usr/src/googletest/CMakeLists.txt ]' googletest
ci_need 'command -v cmake' cmake
ci_need 'command -v wine64 || command -v wine || [ -x /usr/lib/wine/wine64 ]' wine64
ci_install || echo "mingw job: install failed; going on with what is there"

build=build-mingw
toolchain=$PWD/cmake/toolchain-x86_64-w64-mingw32.cmake
jobs=$(nproc)

# GoogleTest only because the golden test's driver is built with the tests;
# no suite runs here.
gtest_dir=$(ci_gtest "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain")

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${ci_build_type[@]}" \
  -DGTest_DIR="$gtest_dir" -DQIR_TESTS=ON -DQIR_OCTAVE=OFF -DQIR_MATLAB=OFF
cmake --build "$build" -j "$jobs" --target qir_train qir_perf qir_golden_calls
echo "mingw job: modules built: $(ls "$build"/modules/*.dll | xargs -n1 basename | tr '\n' ' ')"

# Debian's wine64 keeps its loader out of PATH.
wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64 2>/dev/null || true)
if [ -z "$wine" ]; then
  echo "mingw job: compile only (no wine)"
  exit 0
fi
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all WINEARCH=win64
# The compiler's runtime DLLs, found through WINEPATH.
runtime="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")"
export WINEPATH="Z:${runtime//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
cmake -DCALLS="$build/bin/qir_golden_calls.exe" \
  -DTRAIN="$PWD/$build/modules/qir_train.dll" -DPERF="$PWD/$build/modules/qir_perf.dll" \
  -DLAUNCHER="$wine" -DEXPECTED="$PWD/tests/golden/expected.txt" -DWORK="$PWD/$build/golden" \
  -P tests/golden/check_golden.cmake
echo "mingw job: golden module calls identical under $(basename "$wine")"
