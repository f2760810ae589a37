#!/usr/bin/env bash
# The whole program as a user meets it: a real window on a virtual X display, a folder and a
# text typed in, Enter pressed, a match double-clicked and opened by the desktop's default
# application for its type.
#   search_under_xvfb.sh APP [SCREENSHOT.png]
# With a screenshot name it also saves the first match's tooltip as NAME-tooltip.png.
set -euo pipefail
app=$1
shot=${2:-}
source "$(dirname "$0")/xvfb.sh"

cat >"$work/recorder" <<'SCRIPT'
#!/bin/sh
for a in "$@"; do printf '%s\n' "$a"; done >> "$HOME/opened"
SCRIPT
chmod +x "$work/recorder"
printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\nMimeType=text/plain;\n' \
  "$work/recorder" >"$XDG_DATA_HOME/applications/recorder.desktop"
printf '[Default Applications]\ntext/plain=recorder.desktop\n' >"$XDG_CONFIG_HOME/mimeapps.list"

tree=$work/tree
mkdir -p "$tree/sub"
echo "the needle is here" >"$tree/sub/match.txt"
echo "nothing to see" >"$tree/other.txt"
echo "a needle in HTML" >"$tree/page.html"
echo "NEEDLE in a README" >"$tree/sub/README"
printf 'hidden\0needle' >"$tree/binary.txt"  # after a NUL in its block: no match

start_app "$app"

# The window pairs with its desktop entry: WM_CLASS's class is the entry's StartupWMClass, and
# the window carries an icon.
entry=$(grep -l '^X-Tarnwickloft-Signature=' "$XDG_DATA_HOME"/applications/*.desktop | head -n 1)
wm_class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*, "\(.*\)"$/\1/p')
startup_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[ -n "$wm_class" ] && [ "$wm_class" = "$startup_class" ] ||
  { echo "FAIL: WM_CLASS class '$wm_class', the entry's StartupWMClass '$startup_class'"; exit 1; }
icon=$(xprop -id "$window" _NET_WM_ICON)
case $icon in *"Icon ("*) ;; *) echo "FAIL: the window has no icon"; exit 1 ;; esac

type_into 150 54 "$tree"
xdo key ctrl+shift+a  # "All" in "MIMEs": every text type
type_into 150 76 "NEEDLE"
xdo key Return
# What follows waits by itself: input during a search is handled after it, in order.
[ -n "$shot" ] && window_ready "$window"
[ -n "$shot" ] && import -window "$window" "$shot" 2>/dev/null || true
if [ -n "$shot" ]; then  # the first match's tooltip, on the whole screen around the window
  xdo mousemove --window "$window" 60 150
  sleep 2  # the tooltip's own delay, for the picture only
  eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
  import -window root -crop "360x340+$((X - 10))+$((Y - 10))" "${shot%.png}-tooltip.png" 2>/dev/null || true
fi
xdo mousemove --window "$window" 40 150 click --repeat 2 --delay 80 1
wait_for "the match to be opened" test -s "$HOME/opened"

kill -TERM "$app_pid"
wait "$app_pid"
app_pid=
opened=$(cat "$HOME/opened" 2>/dev/null || true)
case $opened in
  "$tree/page.html" | "$tree/sub/match.txt" | "$tree/sub/README") ;;
  *)
    echo "FAIL: expected a match to be opened, got '$opened'"
    cat "$work/err"
    exit 1
    ;;
esac
grep -q 'Pre aTwRehydrated->Show()' "$work/out" || { echo "FAIL: start-up lines missing"; exit 1; }
echo "PASS: searched '$tree' for NEEDLE and opened $opened"
