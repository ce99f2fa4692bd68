#!/usr/bin/env bash
# CI job: Windows x86-64 cross build with MinGW-w64 (both modules, the
# embedded host as a DLL and the golden test's driver), then the golden
# test's module calls under wine. wine64 installs in about half a minute; if
# it cannot be installed the job still proves the modules compile and link.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null || need+=(cmake)
command -v wine64 >/dev/null || command -v wine >/dev/null || [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" ||
    echo "mingw job: install failed; going on with what is there"
fi

build=build-mingw
toolchain=$PWD/cmake/toolchain-x86_64-w64-mingw32.cmake
jobs=$(nproc)

# GoogleTest only so that the project configures; no suite runs here.
if [ ! -f "$build/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$build/gtest"
  cmake --build "$build/gtest-build" -j "$jobs" --target gtest gtest_main
  cmake --install "$build/gtest-build"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGTest_DIR="$PWD/$build/gtest/lib/cmake/GTest" -DQIR_OCTAVE=OFF -DQIR_MATLAB=OFF
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
