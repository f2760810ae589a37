#!/usr/bin/env bash
# The Debian package as a user gets it: built with cpack, unpacked into a temporary root,
# its desktop entry, AppStream file and manual pages checked by their own tools, lintian run
# on it, and the unpacked program started headless to its window.
#   package.sh BUILD-FOLDER
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
id=org.tarnwickloft.Tarnwickloft

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/tarnwickloft_*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

for file in bin/tarnwickloft bin/tarnwickloft-find libexec/tarnwickloft/tarnwickloft-open \
  libexec/tarnwickloft/tarnwickloft-filemanager libexec/tarnwickloft/tarnwickloft-addon.so \
  share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
  share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml \
  share/man/man1/tarnwickloft.1.gz share/man/man1/tarnwickloft-find.1.gz; do
  [ -e "$root/$file" ] || { echo "FAIL: the package has no $file"; exit 1; }
done
desktop-file-validate "$root/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$root/share/metainfo/$id.metainfo.xml" >"$work/appstream" ||
  { cat "$work/appstream"; echo "FAIL: appstreamcli"; exit 1; }
for page in tarnwickloft tarnwickloft-find; do
  out=$(MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "$out"; echo "FAIL: man $page"; exit 1; }
done
grep -q "^Depends: .*libqt6widgets6" <(dpkg-deb -f "$deb") || { echo "FAIL: no Qt dependency"; exit 1; }
lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1 || true
if grep -q '^E:' "$work/lintian"; then cat "$work/lintian"; echo "FAIL: lintian errors"; exit 1; fi

# The unpacked program, started as from the desktop's application list, reaches its window.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"
QT_QPA_PLATFORM=offscreen "$root/bin/tarnwickloft" >"$work/started" 2>/dev/null &
pid=$!
for _ in $(seq 100); do grep -q 'Show()' "$work/started" && break; sleep 0.1; done
kill "$pid" 2>/dev/null || true
wait "$pid" || true
grep -q 'Pre aTwRehydrated->Show()' "$work/started" || { cat "$work/started"; echo "FAIL: no window"; exit 1; }
"$root/bin/tarnwickloft-find" --type-of "$root/share/mime/packages/$id.xml" | grep -q 'text/xml'
echo "package ok: $(basename "$deb"), $(grep -c '^W:' "$work/lintian" || true) lintian warnings"
