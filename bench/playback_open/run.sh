#!/usr/bin/env bash
# Opening a recording (telemetry + both panes to their first frame) against MediaPlayer OpenFile
# alone, on a 3-minute 1080p recording with its rear partner (generated once into the build).
set -euo pipefail
source "$(dirname "$0")/../bench_build.sh"
bench_build bench_playback_open orvik-samplecard
bench=$build/bench/playback_open/bench_playback_open
gen=$build/tools/orvik-samplecard
data=$build/bench-data/playback_open
[ -x "$bench" ] && [ -x "$gen" ] || { echo "build the project first (scripts/build.sh)"; exit 2; }
mkdir -p "$data"
front=$data/alwa_20260314_081500_F.mp4
rear=$data/alwa_20260314_081500_R.mp4
[ -f "$front" ] || "$gen" --long "$front" --width 1920 --height 1080 --duration 180 -q
[ -f "$rear" ] || "$gen" --long "$rear" --width 960 --height 540 --duration 180 -q
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=${ORVIK_MPV_AO:-null} LIBGL_ALWAYS_SOFTWARE=1
run=("$bench" "$front" "$rear" "$@")
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24" "${run[@]}"
else
  "${run[@]}"
fi
