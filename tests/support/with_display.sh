#!/usr/bin/env bash
# Runs a command on a virtual X server of its own (Xvfb) with one screen of the given size, and
# stops the server again; the command's exit status is returned. Every GUI test gets one, so tests
# that move the X pointer, send keys through the server or read the screen can run side by side.
#   with_display.sh WIDTHxHEIGHT PROGRAM [ARGS...]
set -u
[ $# -ge 2 ] || { echo "usage: with_display.sh WIDTHxHEIGHT PROGRAM [ARGS...]" >&2; exit 2; }
size=$1
shift
command -v Xvfb >/dev/null || { echo "with_display.sh: Xvfb is not installed (scripts/install-deps.sh)" >&2; exit 1; }
dir=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The server picks the first free display number itself (-displayfd): several servers starting at
# once never race for one, as numbers chosen beforehand would. It accepts any cookie its file
# holds, whatever display the entry names; the clients' entry is written once the number is known.
cookie=$(mcookie)
: >"$dir/server"
: >"$dir/client"
xauth -q -f "$dir/server" add :0 . "$cookie"
mkfifo "$dir/ready"
# The server ends with this script even when the script is killed outright.
setpriv --pdeathsig TERM Xvfb -displayfd 3 -auth "$dir/server" -nolisten tcp -noreset \
  -screen 0 "${size}x24" 3>"$dir/ready" >"$dir/xvfb.log" 2>&1 &
server=$!
number=
read -r -t 60 number <"$dir/ready"
if [ -z "$number" ] || ! kill -0 "$server" 2>/dev/null; then
  echo "with_display.sh: Xvfb did not start:" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
export XAUTHORITY=$dir/client DISPLAY=:$number
unset WAYLAND_DISPLAY
xauth -q add "$DISPLAY" . "$cookie"

"$@"
