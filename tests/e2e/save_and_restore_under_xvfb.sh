#!/usr/bin/env bash
# A user's round trip on a virtual X display: choose a folder in the Open panel, search, save
# the search with Save (which asks for a name), quit, start again and find the search back.
#   save_and_restore_under_xvfb.sh APP [SCREENSHOT.png]
set -euo pipefail
app=$1
shot=${2:-}
source "$(dirname "$0")/xvfb.sh"
mkdir -p "$work/searches" "$work/tree/deeper"
echo "find the NEEDLE" >"$work/tree/deeper/notes.html"

start() {
  QT_QPA_PLATFORM=xcb "$app" >>"$work/out" 2>>"$work/err" &
  app_pid=$!
  window=$(window_named "$1")
  window_ready "$window"
}

start Tarnwickloft
# Without a window manager, keyboard focus is given to a window by hand.
focus() {
  focus_window "$(window_named "$1")"
}
focus Tarnwickloft
xdo key ctrl+o                       # the Open panel, its name field focused
focus Open
xdo type --delay 5 "$work/tree"
xdo key Return                       # a folder: it becomes the search folder
wait_for "the Open panel to close" window_gone Open
xdo mousemove --window "$window" 150 76 click 1
xdo type --delay 5 "needle"
xdo key Return                       # keys typed during the search wait for it
focus Tarnwickloft
xdo key ctrl+s                       # no current search yet: asks for a name
focus "Save As"
xdo type --delay 5 "$work/searches/my search"
xdo key Return
wait_for "the saved search to be written" test -s "$work/searches/my search"
kill -TERM "$app_pid"
wait "$app_pid" || true

start "Tarnwickloft - my search"     # the next start restores it
[ -n "$shot" ] && import -window "$window" "$shot" 2>/dev/null || true
kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=
settings=$(cat "$XDG_CONFIG_HOME/Tarnwickloft Settings")
[ "$settings" = "$work/searches/my search" ] || { echo "FAIL: settings name '$settings'"; exit 1; }
echo "PASS: chose $work/tree in the Open panel, saved 'my search', restarted and got it back"
