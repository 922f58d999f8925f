#!/usr/bin/env bash
# Takes the README's screenshot of the export dialog from the viewer as users start it
# (`orvik --demo`) under a virtual X server: tests/export_ui/screenshots.sh [BUILD_DIR]. The
# front pane is right-clicked, "Export clip…" chosen from its menu, the side-by-side layout and
# the caption picked with the keyboard, and the dialog shown once its preview is drawn.
# Writes docs/export-dialog.png.
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
xdotool key Down Down Return  # Snapshot…, Export clip…
dialog=$(waitfor '^Export clip$')
sleep 1
xdotool key --window "$dialog" Down Down Tab space  # layout: side-by-side; caption on
sleep "${ORVIK_PREVIEW_WAIT:-5}"  # the preview frame is made on a worker
import -window "$dialog" "$out/export-dialog.png"
SHOT
echo "screenshot: $out/export-dialog.png"
