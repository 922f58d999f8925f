#!/usr/bin/env bash
# The README's playback pictures from the viewer as users start it: `orvik --demo` under a virtual
# X server of 1280 x 800, the demo's first front/rear pair playing, then the same after Enter (full
# screen). Writes docs/playback-normal.png and docs/playback-fullscreen.png.
#   tests/playback_ui/screenshots.sh [BUILD_DIR]        (needs xvfb-run, xdotool, imagemagick)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=null LIBGL_ALWAYS_SOFTWARE=1
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
xvfb-run -a -s "-screen 0 1280x800x24" bash -c "
  '$build/src/shell/orvik' --demo &
  pid=\$!
  sleep \${ORVIK_SHOT_WAIT:-15}
  import -window root '$shots/normal.png'
  # Keys go to the window under the pointer (there is no window manager).
  xdotool mousemove 640 300 key Return
  sleep 3
  import -window root '$shots/fullscreen.png'
  kill \$pid; wait \$pid 2>/dev/null || true"
# The window is centred on the 1280 x 800 screen.
convert "$shots/normal.png" -crop 1020x645+130+77 +repage "$root/docs/playback-normal.png"
cp "$shots/fullscreen.png" "$root/docs/playback-fullscreen.png"
echo "screenshots: $root/docs/playback-normal.png $root/docs/playback-fullscreen.png"
