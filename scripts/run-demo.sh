#!/usr/bin/env bash
# Builds the modules and the qir command, then runs the demo: trains on the
# circle-in-the-square data, classifies the test set, writes qir-demo.svg.
# Needs only cmake, g++ and make (installed when missing, as root): the
# tests, GNU Octave and Python are switched off here, whatever an earlier
# configure of build/ chose.
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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIR_FP_CONTRACT=off -DQIR_SANITIZE=OFF \
  -DQIR_TESTS=OFF -DQIR_OCTAVE=OFF -DQIR_PYTHON=OFF -DQIR_MATLAB=OFF >/dev/null
cmake --build build -j "$(nproc)" --target qir
build/bin/qir demo "$@"
