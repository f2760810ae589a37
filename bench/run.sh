#!/usr/bin/env bash
# Times tarnwickloft-find against GNU grep and ripgrep on the same folders, in one run.
#
#   bench/run.sh [ROUNDS]
#
# Builds the project in build-bench (Release), writes the corpora under $BENCH_DIR (default
# /tmp/tarnwickloft-bench) when they are missing, checks that the three programs list the same
# files, then runs them in turn, round after round, and prints medians and per-round ratios.
set -euo pipefail

rounds=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
corpora=${BENCH_DIR:-/tmp/tarnwickloft-bench}
build="$top/build-bench"

for tool in rg bc; do
  if ! command -v "$tool" >/dev/null; then
    package=$([ "$tool" = rg ] && echo ripgrep || echo "$tool")
    $([ "$(id -u)" = 0 ] || echo sudo) apt-get install -y "$package" >/dev/null
  fi
done

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICKLOFT_TESTS=OFF >/dev/null
ninja -C "$build" tarnwickloft-find bench-corpus tarnwickloft-window-bench >/dev/null
find_cmd="$build/tools/tarnwickloft-find"

for corpus in small large; do
  if [ ! -f "$corpora/$corpus.done" ]; then
    echo "writing the $corpus corpus under $corpora/$corpus ..." >&2
    rm -rf "${corpora:?}/$corpus"
    mkdir -p "$corpora"
    "$build/bench/bench-corpus" "$corpus" "$corpora/$corpus"
    touch "$corpora/$corpus.done"
  fi
done

needles=(xylophone lambda)  # one that never occurs, one in nearly every file

run_tool() {  # tool folder needle: prints the matching paths
  case $1 in
    tarnwickloft) "$find_cmd" --paths --type text/plain -- "$2" "$3" || [ $? = 1 ] ;;
    grep) LC_ALL=C grep -rilF -- "$3" "$2" || [ $? = 1 ] ;;
    rg) rg -ilF -j1 -uuu -- "$3" "$2" || [ $? = 1 ] ;;
  esac
}

tools=(tarnwickloft grep rg)

echo "# $(date -u +%Y-%m-%d) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "# $(LC_ALL=C grep --version | head -1); $(rg --version | head -1); $rounds rounds, medians"
for corpus in small large; do
  folder="$corpora/$corpus"
  bytes=$(du -sb "$folder" | cut -f1)
  files=$(find "$folder" -type f | wc -l)
  for needle in "${needles[@]}"; do
    reference=$(run_tool grep "$folder" "$needle" | sort)
    for tool in tarnwickloft rg; do
      if [ "$(run_tool $tool "$folder" "$needle" | sort)" != "$reference" ]; then
        echo "$tool and grep list different files for '$needle' in $folder" >&2
        exit 1
      fi
    done
    matched=$(printf '%s' "$reference" | grep -c . || true)
    declare -A times=()
    for ((round = 0; round < rounds; round++)); do
      for ((i = 0; i < ${#tools[@]}; i++)); do
        tool=${tools[(i + round) % ${#tools[@]}]}  # a different one goes first each round
        start=$EPOCHREALTIME
        run_tool "$tool" "$folder" "$needle" >/dev/null
        times[$tool]+="$(echo "$EPOCHREALTIME - $start" | bc -l) "
      done
    done
    echo
    echo "corpus $corpus: $files files, $((bytes / 1000000)) MB; needle '$needle': $matched files match"
    printf '%-14s %10s %10s %16s %16s\n' program "median s" "MB/s" "÷ grep (rounds)" "÷ rg (rounds)"
    for tool in "${tools[@]}"; do
      read -r -a mine <<<"${times[$tool]}"
      read -r -a g <<<"${times[grep]}"
      read -r -a r <<<"${times[rg]}"
      median=$(printf '%s\n' "${mine[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
      ratio() {  # median of the per-round ratios against another program's times
        local -n other=$1
        for ((k = 0; k < ${#mine[@]}; k++)); do echo "${mine[k]} / ${other[k]}" | bc -l; done |
          sort -g | awk '{a[NR]=$1} END {printf "%.2f (%.2f-%.2f)", a[int((NR+1)/2)], a[1], a[NR]}'
      }
      printf '%-14s %10.3f %10.0f %16s %16s\n' "$tool" "$median" \
        "$(echo "$bytes / 1000000 / $median" | bc -l)" "$(ratio g)" "$(ratio r)"
    done
    unset times
  done
done

# The window: from pressing "Search" until the list is filled, next to the engine's own walk
# in the same process, and to tarnwickloft-find on the same folder above.
echo
echo "window on the small corpus ($rounds rounds):"
for needle in "${needles[@]}"; do
  echo "needle '$needle':"
  QT_QPA_PLATFORM=offscreen "$build/bench/tarnwickloft-window-bench" "$corpora/small" "$needle" "$rounds" 2>/dev/null
done
