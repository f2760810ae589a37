#!/usr/bin/env bash
# The keyboard, drag and fit tests of the window on a 1366x768 X screen, at scale 1 and at
# scale 2: every type of the MIMEs menu must be reachable where a small laptop screen ends, and
# the window must open within it.
#   keyboard_under_xvfb.sh WINDOW_TESTS
set -euo pipefail
tests=$1
XVFB_SCREEN=1366x768x24
source "$(dirname "$0")/xvfb.sh"
[ "$(xdotool getdisplaygeometry)" = "1366 768" ] || { echo "FAIL: no 1366x768 screen"; exit 1; }
for scale in 1 2; do
  echo "scale $scale:"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$tests" --gtest_filter='KeyboardTest.*:ResultsTest.AShortDragInsideTheListChangesNothing:WindowFitTest.*' 2>&1 | grep -E '^\[ *(OK|FAILED|PASSED) *\]|Failure|Expected|Which|at '
  [ "${PIPESTATUS[0]}" = 0 ] || exit 1
done
