#!/usr/bin/env bash
# Takes the README's screenshot of the export dialog from the viewer as users start it
# (`orvik --demo`) under a virtual X server: tests/export_ui/screenshots.sh [BUILD_DIR]. The
# front pane is right-clicked, "Export clip…" chosen from its menu, the side-by-side layout and
# the caption picked with the keyboard, and the dialog shown once its preview is drawn.
# Writes docs/export-dialog.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
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
waitfor() {  # a visible window whose title matches $1
  for _ in $(seq 1 120); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.5
  done
  echo "no window '$1'" >&2
  return 1
}
mainwindow() {  # the 1020 x 645 main window (the demo card's progress box has the same title)
  for _ in $(seq 1 600); do
    for id in $(xdotool search --onlyvisible --name '^ORVIK$' 2>/dev/null || true); do
      xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 1020x645' && { echo "$id"; return 0; }
    done
    sleep 0.5
  done
  echo "no main window" >&2
  return 1
}
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
