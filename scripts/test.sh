#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the full build (build/), then the core
# alone without Qt and optimised as a Release (build-core/: a core library that picked up a Qt
# link, or code that only warns at -O3, fails here), then the
# style checks (scripts/check-style.sh). Arguments go to both ctest runs (e.g. -R telemetry).
# GUI tests need a display: without one the full run happens inside a virtual X server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
core=${ORVIK_CORE_BUILD_DIR:-$root/build-core}
bash "$root/scripts/install-deps.sh"
ORVIK_BUILD_DIR=$build bash "$root/scripts/build.sh"
ORVIK_BUILD_DIR=$core ORVIK_CMAKE_ARGS="-DORVIK_BUILD_GUI=OFF -DORVIK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release ${ORVIK_CMAKE_ARGS:-}" \
  bash "$root/scripts/build.sh"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
status=0
run=(ctest --test-dir "$build" --output-on-failure -j 2 "$@")
echo "== tests of the full build"
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24" "${run[@]}" || status=1
else
  "${run[@]}" || status=1
fi
echo "== tests of the core without Qt"
ctest --test-dir "$core" --output-on-failure -j 2 "$@" || status=1
echo "== style"
ORVIK_BUILD_DIR=$build bash "$root/scripts/check-style.sh" || status=1
exit $status
