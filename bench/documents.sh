#!/usr/bin/env bash
# Times the search of documents against pdfgrep and ugrep, in one run, and counts the planted
# phrases each finds.
#
#   bench/documents.sh [ROUNDS]
#
# The corpus ($BENCH_DIR/documents, default /tmp/tarnwickloft-bench): $DOCUMENTS (300) reports
# of a few pages each, written by bench/make_documents.py from a fixed seed, made into PDFs by
# groff and ghostscript (groff -ms -Tps | ps2pdf) and into .docx, .odt and .epub by pandoc:
# 4 x 300 documents. Beside it, documents-text holds the same texts as plain files (pdftotext
# -raw for the PDFs, pandoc -t plain for the others).
#
# "first" is tarnwickloft-find with an empty text cache, "second" with the cache the first
# filled, "plain" tarnwickloft-find on the plain texts. "pdfgrep" is pdfgrep -r -i on the PDFs;
# "ugrep" is ugrep -r -i -l with its usual filters (pdftotext for PDF, pandoc for the others),
# each with its default threads.
set -euo pipefail

rounds=${1:-3}
top=$(cd "$(dirname "$0")/.." && pwd)
corpora=${BENCH_DIR:-/tmp/tarnwickloft-bench}
build="$top/build-bench"
count=${DOCUMENTS:-300}
corpus="$corpora/documents"
texts="$corpora/documents-text"
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT

sudo=$([ "$(id -u)" = 0 ] || echo sudo)
for tool in pdfgrep ugrep pandoc groff ps2pdf pdftotext bc; do
  if ! command -v "$tool" >/dev/null; then
    case $tool in ps2pdf) package=ghostscript ;; pdftotext) package=poppler-utils ;; *) package=$tool ;; esac
    $sudo apt-get install -y "$package" >/dev/null
  fi
done
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICKLOFT_TESTS=OFF >/dev/null
ninja -C "$build" tarnwickloft-find >/dev/null
find_cmd="$build/tools/tarnwickloft-find"

make_corpus() {
  local src="$corpora/documents-src"
  rm -rf "$corpus" "$texts" "$src"
  mkdir -p "$corpus"/{pdf,docx,odt,epub} "$texts"/{pdf,docx,odt,epub}
  /usr/bin/python3 "$top/bench/make_documents.py" "$src" "$count"
  export corpus texts src
  # shellcheck disable=SC2016
  ls "$src" | sed -n 's/\.md$//p' | xargs -P "$(nproc)" -I{} sh -c '
    for f in docx odt epub; do
      pandoc --metadata title={} "$src/{}.md" -o "$corpus/$f/{}.$f"
      pandoc --wrap=preserve -t plain "$corpus/$f/{}.$f" -o "$texts/$f/{}.txt"
    done
    groff -Kutf8 -ms -Tps "$src/{}.ms" | ps2pdf - "$corpus/pdf/{}.pdf"
    pdftotext -raw -enc UTF-8 "$corpus/pdf/{}.pdf" "$texts/pdf/{}.txt"'
  rm -rf "$src"
  touch "$corpora/documents.done"
}
if [ ! -f "$corpora/documents.done" ]; then
  echo "writing the document corpus under $corpus ..." >&2
  make_corpus
fi

doc_types=(--type application/pdf --type application/vnd.oasis.opendocument.text
  --type application/vnd.openxmlformats-officedocument.wordprocessingml.document --type application/epub+zip)
ugrep_filters='pdf:pdftotext % -,docx,odt,epub:pandoc --wrap=preserve -t plain % -o -'

run_tool() {  # tool needle: prints the matching paths
  case $1 in
    first) rm -rf "${cache:?}"/*; XDG_CACHE_HOME=$cache "$find_cmd" --paths "${doc_types[@]}" -- "$corpus" "$2" || [ $? = 1 ] ;;
    second) XDG_CACHE_HOME=$cache "$find_cmd" --paths "${doc_types[@]}" -- "$corpus" "$2" || [ $? = 1 ] ;;
    plain) "$find_cmd" --paths --type text/plain -- "$texts" "$2" || [ $? = 1 ] ;;
    first-pdf) rm -rf "${cache:?}"/*; XDG_CACHE_HOME=$cache "$find_cmd" --paths --type application/pdf -- "$corpus/pdf" "$2" || [ $? = 1 ] ;;
    pdfgrep) pdfgrep -r -i -l -- "$2" "$corpus/pdf" || [ $? = 1 ] ;;
    ugrep) ugrep -r -i -l -F --filter="$ugrep_filters" -- "$2" "$corpus" || [ $? = 1 ] ;;
  esac
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

echo "# $(date -u +%Y-%m-%d) on $(nproc) cores; $(pdfgrep --version | head -1); $(ugrep --version | head -1 | cut -d' ' -f1-2)"
echo "# $(pdftotext -v 2>&1 | head -1); $(pandoc --version | head -1); $count documents of each format; $rounds rounds, medians"

# What each program finds of the planted phrases (and of the control, nothing).
echo
printf '%-24s %12s %12s %12s %12s\n' phrase "ours (all)" "ours (PDF)" "pdfgrep" "ugrep (all)"
for phrase in "harbour lighthouse" "quick brown fox" "incomprehensibilities" "zebra quartz"; do
  printf '%-24s %12s %12s %12s %12s\n' "'$phrase'" "$(run_tool first "$phrase" | wc -l)" \
    "$(run_tool first-pdf "$phrase" | wc -l)" "$(run_tool pdfgrep "$phrase" | wc -l)" "$(run_tool ugrep "$phrase" | wc -l)"
done

# Times, with a needle that occurs nowhere, so that every text is read to its end.
needle="zebra quartz"
tools=(first second plain first-pdf pdfgrep ugrep)
declare -A times=()
for ((round = 0; round < rounds; round++)); do
  for tool in "${tools[@]}"; do
    start=$EPOCHREALTIME
    run_tool "$tool" "$needle" >/dev/null
    times[$tool]+="$(echo "$EPOCHREALTIME - $start" | bc -l) "
  done
done
ratio() {  # median of the per-round ratios of two programs' times
  read -r -a a <<<"${times[$1]}"
  read -r -a b <<<"${times[$2]}"
  for ((k = 0; k < ${#a[@]}; k++)); do echo "${a[k]} / ${b[k]}" | bc -l; done | sort -g |
    awk '{a[NR]=$1} END {printf "%.3f (%.3f-%.3f)", a[int((NR+1)/2)], a[1], a[NR]}'
}
echo
printf '%-12s %10s\n' program "median s"
for tool in "${tools[@]}"; do
  printf '%-12s %10.3f\n' "$tool" "$(printf '%s\n' ${times[$tool]} | median)"
done
echo
echo "first (PDFs) / pdfgrep:        $(ratio first-pdf pdfgrep)"
echo "first (all) / ugrep:           $(ratio first ugrep)"
echo "second / first:                $(ratio second first)"
echo "second / the same texts plain: $(ratio second plain)"
