#!/usr/bin/env bash
# Under a real window manager (openbox) on a 1366x768 screen at scale 2, the whole window,
# title bar and borders included, is on the screen once the manager has framed it: at the
# first start, and with a saved frame at the screen's bottom edge.
#   fit_under_a_window_manager.sh APP
set -euo pipefail
app=$1
XVFB_SCREEN=1366x768x24
source "$(dirname "$0")/xvfb.sh"
export QT_SCALE_FACTOR=2
unset QT_FONT_DPI  # Qt's own text size: the window is built larger than its archive

# openbox is started again if it exits before it manages the screen (on a loaded machine it
# has been seen not to come up once); what it said is shown if it never does.
start_wm() {
  openbox >/dev/null 2>>"$work/openbox.err" &
  wm_pid=$!
}
start_wm
trap 'kill $wm_pid 2>/dev/null || true; cleanup' EXIT
wm_ready() {  # xprop succeeds also when the property is missing
  kill -0 "$wm_pid" 2>/dev/null || start_wm
  [[ $(xprop -root _NET_SUPPORTING_WM_CHECK) == *"window id"* ]]
}
for _ in $(seq 200); do wm_ready 2>/dev/null && break; sleep 0.1; done
if ! wm_ready 2>/dev/null; then
  echo "FAIL: waited 20 s for openbox to manage the screen (display '$DISPLAY'); openbox said:"
  sort "$work/openbox.err" | uniq -c | head -n 10
  exit 1
fi

# The window's outer box: where its inside is on the screen (xwininfo; xdotool adds the frame
# to it), grown by the frame's extents around it.
outer_box() {  # window-id
  local info x y w h l r t b
  info=$(xwininfo -id "$1")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  read -r l r t b <<<"$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')"
  echo "$((x - l)) $((y - t)) $((x + w + r)) $((y + h + b))"
}

has_extents() {  # window-id; xprop succeeds also when the property is missing
  [[ $(xprop -id "$1" _NET_FRAME_EXTENTS) == *=* ]]
}

# Fails unless the whole window is within the 1366x768 screen.
check_on_screen() {  # what
  local box left top right bottom
  for _ in $(seq 200); do has_extents "$window" && break; sleep 0.1; done
  if ! has_extents "$window"; then
    echo "FAIL: $1: the window manager set no frame extents in 20 s"
    kill -0 "$wm_pid" 2>/dev/null || echo "(openbox is not running)"
    xprop -id "$window" | head -n 20
    exit 1
  fi
  sleep 1  # the window moves itself once it knows its frame
  box=$(outer_box "$window")
  read -r left top right bottom <<<"$box"
  if [ "$left" -lt 0 ] || [ "$top" -lt 0 ] || [ "$right" -gt 1366 ] || [ "$bottom" -gt 768 ]; then
    echo "FAIL: $1: the window's outer box $box is not within 1366x768"
    exit 1
  fi
  echo "ok: $1: $box"
}

start_app "$app"
check_on_screen "the first start"

# A saved frame at the screen's bottom edge (saved where the window had been moved half off
# the screen): restored at the next start, the whole window is on the screen again.
xdo windowmove "$window" 200 600
wait_for "the window to move down" test "$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left Y: *//p')" -gt 500
mkdir -p "$work/searches"
xdo windowactivate --sync "$window"
xdo key ctrl+s
saver=$(window_named "Save As")
xdo windowactivate --sync "$saver"
window_ready "$saver"
xdo type --delay 5 "$work/searches/low"
xdo key Return
wait_for "the saved search to be written" test -s "$work/searches/low"
kill -TERM "$app_pid"
wait "$app_pid" || true
QT_QPA_PLATFORM=xcb "$app" >>"$work/out" 2>>"$work/err" &
app_pid=$!
window=$(window_named "Tarnwickloft - low")
window_ready "$window"
check_on_screen "a saved frame at the bottom edge"
