#!/usr/bin/env bash
# The README's test command: installs what is missing, builds build/ and runs every test (GUI
# tests inside a virtual X server when there is no display), then checks the format. Arguments
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
run=(ctest --test-dir "$build" --output-on-failure -j 2 "$@")
lap "tests of the full build"
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24" "${run[@]}" || status=1
else
  "${run[@]}" || status=1
fi
lap "format"
ORVIK_BUILD_DIR=$build bash "$root/scripts/check-style.sh" format || status=1
lap "done"
exit $status
