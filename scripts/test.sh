#!/usr/bin/env bash
# The README's test command: installs what is missing, builds build/ and runs every test (each GUI
# test on a virtual X server of its own), then checks the format. Arguments
# go to ctest (e.g. -R telemetry). The benchmark programs are not built here (bench/*/run.sh
# builds them). CI (.ci/run) runs this with them built too, and then what takes longer: the core
# alone as an optimised Release build without Qt, and clang-tidy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
start=$(date +%s)
lap() { echo "== $1 ($(( $(date +%s) - start )) s so far)"; }
bash "$root/scripts/install-deps.sh"
lap "build"
ORVIK_BUILD_DIR=$build bash "$root/scripts/build.sh"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
status=0
run=(ctest --test-dir "$build" --output-on-failure -j 4 "$@")
lap "tests of the full build"
"${run[@]}" || status=1
lap "format"
ORVIK_BUILD_DIR=$build bash "$root/scripts/check-style.sh" format || status=1
lap "done"
exit $status
