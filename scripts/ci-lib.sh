# Shared by the scripts/ci-*.sh jobs (sourced, not run).

# ci_need CHECK PACKAGE: adds PACKAGE to the install list unless the shell
# test CHECK succeeds. ci_install installs the list (apt-get update first).
# With QIR_CI_PREPARE=1 the job ends there: .ci/run installs every job's
# packages one job at a time before running jobs side by side.
ci_packages=()
ci_need() {
  eval "$1" >/dev/null 2>&1 || ci_packages+=("$2")
}
ci_install() {
  if [ ${#ci_packages[@]} -gt 0 ]; then
    echo "Installing: ${ci_packages[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${ci_packages[@]}"
  fi
  if [ "${QIR_CI_PREPARE:-}" = 1 ]; then
    exit 0
  fi
}

# ci_gtest BUILD [CMAKE ARGS...]: GoogleTest from /usr/src/googletest,
# built for the job's target into BUILD/gtest once; prints its GTest_DIR.
ci_gtest() {
  local build=$1
  shift
  if [ ! -f "$build/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/gtest-build" "$@" -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$build/gtest" >&2
    cmake --build "$build/gtest-build" -j "$(nproc)" --target gtest gtest_main >&2
    cmake --install "$build/gtest-build" >&2
  fi
  echo "$PWD/$build/gtest/lib/cmake/GTest"
}
# The build type of the platform jobs: RelWithDebInfo's optimisation
# without its debugging information, which changes no generated code and
# takes a third of the compile time; the tests' own messages tell a failure.
ci_build_type=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
