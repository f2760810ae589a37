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
  libexec/tarnwickloft/tarnwickloft-forkserver.so libexec/tarnwickloft/tarnwickloft-packages.so \
  share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
  share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml \
  share/man/man1/tarnwickloft.1.gz share/man/man1/tarnwickloft-find.1.gz; do
  [ -e "$root/$file" ] || { echo "FAIL: the package has no $file"; exit 1; }
done
desktop-file-validate "$root/share/applications/$id.desktop"
# "Search here with Tarnwickloft" for Dolphin, Nemo and the file-manager actions: formats of
# their own (desktop-file-validate knows none of them), so their keys are checked here, and
# that each runs the packaged host with the folder.
host=/usr/libexec/tarnwickloft/tarnwickloft-filemanager
check_entry() {  # file group key=value...
  local file=$root/share/$1 group=$2
  shift 2
  [ -f "$file" ] || { echo "FAIL: the package has no $file"; exit 1; }
  grep -qx "\[$group\]" "$file" || { echo "FAIL: no [$group] in $file"; exit 1; }
  for pair in "$@"; do grep -qxF "$pair" "$file" || { echo "FAIL: no '$pair' in $file"; exit 1; }; done
  [ -x "$work/root$host" ] || { echo "FAIL: no $host"; exit 1; }
}
check_entry kio/servicemenus/$id.desktop "Desktop Action searchHere" "Type=Service" \
  "MimeType=inode/directory;" "Actions=searchHere;" "Name=Search here with Tarnwickloft" "Exec=$host %f"
check_entry nemo/actions/$id.nemo_action "Nemo Action" "Name=Search here with Tarnwickloft" \
  "Exec=$host %P %F" "Selection=any" "Extensions=any;"
check_entry file-manager/actions/$id.desktop "X-Action-Profile folder" "Type=Action" "Profiles=folder;" \
  "MimeTypes=inode/directory;" "Exec=$host %f" "Name=Search here with Tarnwickloft"
grep -q "^License: Expat" "$root/share/doc/tarnwickloft/copyright" || { echo "FAIL: copyright"; exit 1; }
grep -q "<project_license>MIT</project_license>" "$root/share/metainfo/$id.metainfo.xml" ||
  { echo "FAIL: no project licence"; exit 1; }
! grep -q "https://tarnwickloft" "$root/share/metainfo/$id.metainfo.xml" || { echo "FAIL: a URL not ours"; exit 1; }
appstreamcli validate --no-net --pedantic "$root/share/metainfo/$id.metainfo.xml" >"$work/appstream" ||
  { cat "$work/appstream"; echo "FAIL: appstreamcli"; exit 1; }
for page in tarnwickloft tarnwickloft-find; do
  out=$(MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "$out"; echo "FAIL: man $page"; exit 1; }
done
grep -q "^Depends: .*libqt6widgets6" <(dpkg-deb -f "$deb") || { echo "FAIL: no Qt dependency"; exit 1; }
grep -q "^Depends: .*libarchive13" <(dpkg-deb -f "$deb") || { echo "FAIL: no libarchive dependency"; exit 1; }
lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1 || true
if grep -q '^E:' "$work/lintian"; then cat "$work/lintian"; echo "FAIL: lintian errors"; exit 1; fi

# The unpacked program, started as from the desktop's application list, reaches its window;
# with Nautilus installed it leaves a "Search here" script for it.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME" "$work/bin"
printf '#!/bin/sh\n' >"$work/bin/nautilus"
chmod +x "$work/bin/nautilus"
PATH=$work/bin:$PATH QT_QPA_PLATFORM=offscreen "$root/bin/tarnwickloft" >"$work/started" 2>/dev/null &
pid=$!
for _ in $(seq 100); do grep -q 'Show()' "$work/started" && break; sleep 0.1; done
kill "$pid" 2>/dev/null || true
wait "$pid" || true
grep -q 'Pre aTwRehydrated->Show()' "$work/started" || { cat "$work/started"; echo "FAIL: no window"; exit 1; }
"$root/bin/tarnwickloft-find" --type-of "$root/share/mime/packages/$id.xml" | grep -q 'text/xml'

# A search of text loads neither GIO nor the document libraries, which would slow every start;
# a document's text is read through the packaged module, loaded when first needed.
mkdir "$work/docs"
printf 'the lighthouse keeper\n' >"$work/docs/note.txt"
printf 'the lighthouse keeper\n' | pandoc -f markdown -o "$work/docs/note.odt"
loads() { LD_DEBUG=files "$root/bin/tarnwickloft-find" "$@" 2>&1 >/dev/null | grep -o 'file=[^ ]*' | sort -u; }
! loads -- "$work/docs" lighthouse | grep -E 'libgio|libarchive|libexpat|packages' ||
  { echo "FAIL: a text search loaded the libraries above"; exit 1; }
[ "$("$root/bin/tarnwickloft-find" -d --no-cache -- "$work/docs" lighthouse | sort)" = "$(printf 'note.odt\nnote.txt')" ] ||
  { echo "FAIL: the packaged program did not find the document's text"; exit 1; }
loads -d --no-cache -- "$work/docs" lighthouse | grep -qx "file=$root/libexec/tarnwickloft/tarnwickloft-packages.so" ||
  { echo "FAIL: the document was not read through the packaged module"; exit 1; }

# The program removed, the script removes itself when run and does nothing else.
script="$XDG_DATA_HOME/nautilus/scripts/Search here with Tarnwickloft"
[ -x "$script" ] || { echo "FAIL: no Nautilus script"; exit 1; }
rm -rf "$work/root"
(cd "$HOME" && "$script" "$HOME") || { echo "FAIL: the script of a removed program failed"; exit 1; }
[ ! -e "$script" ] || { echo "FAIL: the script of a removed program is still there"; exit 1; }
echo "package ok: $(basename "$deb"), $(grep -c '^W:' "$work/lintian" || true) lintian warnings"
