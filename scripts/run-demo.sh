#!/usr/bin/env bash
# Builds the modules and the qir command, then runs the demo: trains on the
# circle-in-the-square data, classifies the test set, writes qir-demo.svg.
# Needs only cmake, g++ and make (installed when missing, as root). It builds
# in its own folder, build-demo/, with the tests, GNU Octave and Python
# switched off: build/ is left to the README's Install block and to
# scripts/run-tests.sh, whatever order they run in.
# QIR_CONFIGURE_ONLY=1 stops after configuring (tests/scripts/ checks how
# the README's blocks configure their folders).
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_FP_CONTRACT=off -DQIR_SANITIZE=OFF \
  -DQIR_TESTS=OFF -DQIR_OCTAVE=OFF -DQIR_PYTHON=OFF -DQIR_MATLAB=OFF >/dev/null
[ -n "${QIR_CONFIGURE_ONLY:-}" ] && exit 0
cmake --build build-demo -j "$(nproc)" --target qir
build-demo/bin/qir demo "$@"
