#!/usr/bin/env bash
# Builds the modules and the qir command, then runs the demo: trains on the
# circle-in-the-square data, classifies the test set, writes qir-demo.svg.
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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target qir
build/bin/qir demo "$@"
