#!/usr/bin/env bash
# Takes the README's screenshots of the viewer on the demo card, English and Korean, under a
# virtual X server: tests/shell/screenshots.sh [BUILD_DIR]. Writes docs/viewer-en.png and
# docs/viewer-ko.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=null LIBGL_ALWAYS_SOFTWARE=1
for lang in en ko; do
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c "
    LANG=$( [ $lang = ko ] && echo ko_KR.UTF-8 || echo en_US.UTF-8 ) ORVIK_LANG=$lang '$build/src/shell/orvik' --demo &
    pid=\$!
    sleep \${ORVIK_SHOT_WAIT:-12}
    import -window root /tmp/orvik-shot-$lang.png
    kill \$pid; wait \$pid 2>/dev/null || true"
  # The window is centred on the 1280 x 800 screen.
  convert /tmp/orvik-shot-$lang.png -crop 1020x645+130+77 +repage "$root/docs/viewer-$lang.png"
  rm -f /tmp/orvik-shot-$lang.png
done
echo "screenshots: $root/docs/viewer-en.png $root/docs/viewer-ko.png"
