#!/usr/bin/env bash
# Configures and builds the project into build/ (Ninja, two jobs: the machine has two cores).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ORVIK_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "${ORVIK_JOBS:-2}"
