#!/usr/bin/env bash
# Runs the tests that need an ordinary user (refused permissions mean nothing to root) as
# the user "nobody" when started as root, as CI is; as themselves otherwise. A test that
# skips itself counts as a failure here.
#   as_ordinary_user.sh TEST-BINARY GTEST-FILTER
set -euo pipefail
binary=$1
filter=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$binary" "$work/tests"
chmod 755 "$work/tests"
if [ "$(id -u)" = 0 ]; then
  mkdir "$work/home"
  chown 65534:65534 "$work/home"
  run=(setpriv --reuid=65534 --regid=65534 --clear-groups -- env HOME="$work/home" TMPDIR="$work/home")
else
  run=(env)
fi
"${run[@]}" "$work/tests" --gtest_filter="$filter" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
if grep -q SKIPPED "$work/out" || ! grep -q '^\[  PASSED  \]' "$work/out"; then
  cat "$work/out"
  exit 1
fi
grep '^\[  PASSED  \]' "$work/out"
