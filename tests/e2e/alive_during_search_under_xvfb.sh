#!/usr/bin/env bash
# The window during a long search: it answers the window manager's ping and draws itself
# again when uncovered, while keys and menu commands wait for the search to end and then run
# in the order they came; a close request ends the search at once, and the application after
# what came before the close. The search is long because its one file sits on a
# file system whose reads take several seconds (needs root and /dev/fuse, else it skips).
#   alive_during_search_under_xvfb.sh APP STALL_FS X11_PROBE
set -euo pipefail
app=$1 stall_fs=$2 probe=$3
export X11_PROBE=$probe
if [ "$(id -u)" != 0 ] || [ ! -e /dev/fuse ]; then
  echo "SKIP: needs root and /dev/fuse"
  exit 0
fi
source "$(dirname "$0")/xvfb.sh"
stall=4  # seconds each read of the file takes
mount=$work/slow
mkdir -p "$mount" "$work/searches"
"$stall_fs" "$mount" "$stall" slow.html >"$work/reads" &
fuse_pid=$!
unmount() {
  fusermount3 -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
  kill "$fuse_pid" 2>/dev/null || true
  cleanup
}
trap unmount EXIT
wait_for "the slow file system to mount" test -e "$mount/slow.html"
reads() { grep -c . "$work/reads" || true; }
read_started() { [ "$(reads)" -gt "$1" ]; }  # a read began after the first $1

fail() { echo "FAIL: $*"; cat "$work/err"; exit 1; }
seconds_since() { echo "$(date +%s.%N) - $1" | bc; }

start_app "$app"
type_into 150 54 "$mount"
type_into 150 76 "needle"   # the focus stays in "Search For:"

# 1. Alive: pings answered and an uncovered window drawn again, while the search runs.
before=$(reads)
xdo key Return
started=$(date +%s.%N)
wait_for "the search to reach the slow file" read_started "$before"
for _ in 1 2 3 4; do
  ms=$("$probe" ping "$window") || fail "no answer to _NET_WM_PING during the search"
  [ "$ms" -le 200 ] || fail "_NET_WM_PING answered after $ms ms"
done
left=$("$probe" expose "$window")
[ "$(echo "$left < 0.05" | bc)" = 1 ] || fail "uncovered during the search, $left of the window stayed unpainted"
[ "$(echo "$(seconds_since "$started") < $stall" | bc)" = 1 ] || fail "the probes outlasted the search"

# 2. Keys and a menu command typed during the search run after it, in order: the keys reach
#    "Search For:", then Save (no current search: the Save As panel) records that text.
xdo type --delay 5 "zz"
xdo key ctrl+s
saver=$(window_named "Save As")
[ "$(echo "$(seconds_since "$started") >= $stall" | bc)" = 1 ] || fail "the Save As panel came before the search ended"
focus_window "$saver"
xdo type --delay 5 "$work/searches/during"
xdo key Return
wait_for "the saved search to be written" test -s "$work/searches/during"
grep -aq "needlezz" "$work/searches/during" || fail "the saved search lacks the text typed during the search"

# 3. A close request during a search ends it at once, and the application once what came
#    before the close has run: Save (to "during" now) records the keys typed before it.
focus_window "$window"
xdo mousemove --window "$window" 150 76 click 1
xdo key End
before=$(reads)
xdo key Return
started=$(date +%s.%N)
wait_for "the search to reach the slow file" read_started "$before"
xdo type --delay 5 "yy"
xdo key ctrl+s
"$probe" close "$window"
app_gone() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for "the application to end after the close" app_gone
app_pid=
[ "$(echo "$(seconds_since "$started") < $stall" | bc)" = 1 ] || fail "the close waited for the search's slow read"
grep -aq "needlezzyy" "$work/searches/during" || fail "Save, sent before the close, did not run before it"
echo "PASS: pings answered in under 200 ms and the window redrawn during a ${stall}-second search; keys and Save ran after it, in order; the close ended it at once, after the Save"
