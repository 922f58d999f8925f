#!/usr/bin/env bash
# Takes the README's screenshots under a virtual X server (none of this runs in ctest):
#   docs/screenshots/settings-*.png   the Device Settings pages, English and Korean
#   docs/playback-*.png      the main window playing the demo card, normal and full screen
#   docs/viewer-en.png, docs/viewer-ko.png   the viewer on the demo card
# Usage: scripts/screenshots.sh [BUILD_DIR] (default build/, built by scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=null LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
screen="-screen 0 1920x1080x24"

bash "$root/tests/device_config_ui/screenshots.sh" "$build"
bash "$root/tests/playback_ui/screenshots.sh" "$build"
ORVIK_SCREENSHOT_DIR="$root/docs" xvfb-run -a -s "$screen" \
  "$build/tests/playback_ui/playback_ui_main_window" --gtest_filter='*.Screenshots'

# The viewer as it starts on the demo card; its window is centred on a 1280 x 800 screen.
for lang in en ko; do
  shot=$(mktemp --suffix=.png)
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c "
    LANG=$( [ $lang = ko ] && echo ko_KR.UTF-8 || echo en_US.UTF-8 ) ORVIK_LANG=$lang '$build/src/shell/orvik' --demo &
    pid=\$!
    sleep \${ORVIK_SHOT_WAIT:-12}
    import -window root '$shot'
    kill \$pid; wait \$pid 2>/dev/null || true"
  convert "$shot" -crop 1020x645+130+77 +repage "$root/docs/viewer-$lang.png"
  rm -f "$shot"
done
echo "screenshots: docs/screenshots/, docs/playback-*.png, docs/viewer-en.png, docs/viewer-ko.png"
