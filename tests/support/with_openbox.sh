#!/usr/bin/env bash
# Runs a command under the openbox window manager on the X display the test was given (the one
# with_display.sh made): starts openbox, waits until it has taken the screen (it names itself on the
# root window), runs the command and stops openbox again. The command's exit status is returned.
#   with_openbox.sh PROGRAM [ARGS...]
set -u
[ -n "${DISPLAY:-}" ] || { echo "with_openbox.sh: no DISPLAY" >&2; exit 2; }
command -v openbox >/dev/null || { echo "with_openbox.sh: openbox is not installed" >&2; exit 77; }
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# No session, no autostart, no menu: only the window manager.
XDG_CONFIG_HOME=$config openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml \
  >"$config/openbox.log" 2>&1 &
wm=$!
# A window manager that follows the desktop conventions sets _NET_SUPPORTING_WM_CHECK on the root
# window once it manages the screen. xprop -spy reports the root window's properties as they
# change (all of them: naming one that does not exist yet would never match), line by line.
exec 3< <(exec timeout 20 stdbuf -oL xprop -root -spy 2>/dev/null)
spy=$!
ready=false
while read -r line <&3; do
  case $line in "_NET_SUPPORTING_WM_CHECK(WINDOW)"*) ready=true; break ;; esac
done
kill "$spy" 2>/dev/null
exec 3<&-
if ! $ready || ! kill -0 "$wm" 2>/dev/null; then
  echo "with_openbox.sh: openbox did not take the screen:" >&2
  cat "$config/openbox.log" >&2
  kill "$wm" 2>/dev/null
  exit 1
fi
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $status
