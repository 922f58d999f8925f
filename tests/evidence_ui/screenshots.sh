#!/usr/bin/env bash
# Takes the README's screenshot of the evidence-package dialog from the viewer as users start it
# (`orvik --demo`) under a virtual X server: tests/evidence_ui/screenshots.sh [BUILD_DIR]. The
# front pane is right-clicked, "Evidence package…" chosen from its menu, a note and a folder
# typed, and the dialog shown once its first still is drawn. Writes docs/evidence-dialog.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export root  # the inner shell sources tests/support/x11_windows.sh
build=${1:-$root/build}
out=$root/docs
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export ORVIK_MPV_AO=null LIBGL_ALWAYS_SOFTWARE=1
xvfb-run -a -s "-screen 0 1280x800x24" bash -s "$build" "$out" <<'SHOT'
set -euo pipefail
build=$1 out=$2
LANG=en_US.UTF-8 ORVIK_LANG=en "$build/src/shell/orvik" --demo &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
source "$root/tests/support/x11_windows.sh"
main=$(mainwindow)
sleep "${ORVIK_SHOT_WAIT:-8}"  # the demo pair plays
# The front pane fills (13, 57)-(660, 417) of the main window.
xdotool mousemove --window "$main" 337 237 click 3
sleep 1
xdotool key Down Down Down Return  # Snapshot…, Export clip…, Evidence package…
dialog=$(waitfor '^Evidence package$')
sleep 1
# Layout, caption, language, then the note.
xdotool key --window "$dialog" Tab Tab Tab
xdotool type --window "$dialog" --delay 20 "Hit from behind while waiting at the red light."
# The folder as on a desktop with a Videos folder (this machine's own home stays out of it).
xdotool key --window "$dialog" Tab ctrl+a
xdotool type --window "$dialog" --delay 5 "/home/me/Videos/incident-at-the-lights"
sleep "${ORVIK_PREVIEW_WAIT:-5}"  # the first still is made on a worker
import -window "$dialog" "$out/evidence-dialog.png"
SHOT
echo "screenshot: $out/evidence-dialog.png"
