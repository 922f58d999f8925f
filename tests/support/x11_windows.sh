# Sourced by the screenshot scripts that drive `orvik --demo` under Xvfb with xdotool.
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
