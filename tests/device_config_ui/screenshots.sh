#!/usr/bin/env bash
# Takes the README's screenshots of the Device Settings dialog from the viewer as users start it
# (`orvik --demo`, its own palette and fonts), English and Korean, under a virtual X server:
# tests/device_config_ui/screenshots.sh [BUILD_DIR]. The demo card is presented as the removable
# card, the Configuration button is clicked and every tab shown in turn (Ctrl+Tab).
# Writes docs/screenshots/settings-<tab>-<en|ko>.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export root  # the inner shell sources tests/support/x11_windows.sh
build=${1:-$root/build}
out=$root/docs/screenshots
mkdir -p "$out"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=null LIBGL_ALWAYS_SOFTWARE=1
cache=${XDG_CACHE_HOME:-$HOME/.cache}
export ORVIK_REMOVABLE_VOLUMES="$cache/Orvik/demo-card=ORVIK"
for lang in en ko; do
  locale=$([ $lang = ko ] && echo ko_KR.UTF-8 || echo en_US.UTF-8)
  xvfb-run -a -s "-screen 0 1280x800x24" bash -s "$build" "$out" "$lang" "$locale" <<'EOF'
set -euo pipefail
build=$1 out=$2 lang=$3 locale=$4
LANG=$locale ORVIK_LANG=$lang "$build/src/shell/orvik" --demo &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
source "$root/tests/support/x11_windows.sh"
main=$(mainwindow)
sleep "${ORVIK_SHOT_WAIT:-6}"  # the demo card is listed, the map page loads
# The Configuration button at (63, 5, 54, 47) of the main window.
xdotool mousemove --window "$main" 90 28 click 1
settings=$(waitfor 'Device Settings|환경 설정')
sleep 1
tabs=(video basic gps additional motion adas audio information)
for i in "${!tabs[@]}"; do
  if [ "$i" -gt 0 ]; then
    xdotool key --window "$settings" ctrl+Tab
    sleep 1
  fi
  import -window "$settings" "$out/settings-${tabs[$i]}-$lang.png"
done
EOF
done
echo "screenshots: $out/settings-*-{en,ko}.png"
