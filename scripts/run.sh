#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program on the demo card.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
if [ -x "$build/src/shell/orvik" ]; then
  exec "$build/src/shell/orvik" --demo "$@"
fi
# Without the viewer (a core-only build): the same demo card, listed.
card=${XDG_CACHE_HOME:-$HOME/.cache}/Orvik/demo-card
"$build/tools/orvik-samplecard" --demo --out "$card" >/dev/null
exec "$build/src/cli/orvik-cli" list "$card"
