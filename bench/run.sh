#!/usr/bin/env bash
# Times tarnwickloft-find against GNU grep and ripgrep on the same folders, in one run.
#
#   bench/run.sh [--window] [ROUNDS]
#
# --window times only the window (on the small, untyped and Linux corpora).
# Builds the project in build-bench (Release), writes the corpora under $BENCH_DIR (default
# /tmp/tarnwickloft-bench) when they are missing, checks that the programs list the same
# files, then runs them in turn, round after round, and prints medians and per-round ratios.
#
# Corpora:
#   small, large  generated text, every file typed text/plain by attribute (--type text/plain)
#   untyped       100,000 generated files without extension or attribute (default types)
#   linux         the Linux 6.1 source: Debian's linux-source-6.1 package, untarred (tar sets
#                 no user attributes), searched with the default types
#   usr           /usr/include, /usr/share/doc and the Python and Perl libraries, copied with
#                 `cp -r --no-preserve=all`, which copies no attributes; default types
# "tarnwickloft" is tarnwickloft-find with its default threads (one per processor), "-j1" and
# "-j2" with one and two; "rg" is ripgrep with its default threads, "rg-j1" with one.
# On the untyped and real trees, "tarnwickloft-6.1" is tarnwickloft-find on the path of a
# kernel without getxattrat(2) (before Linux 6.13, as Debian 12's own), through an
# LD_PRELOAD library, bench/without-getxattrat.c, that answers ENOSYS to that call.
# The real trees are also timed with a cold cache (as root: `echo 3 > drop_caches` before
# each run) and in the window: the first search of a process against the later ones, and
# with "Show Paths" against without.
set -euo pipefail

window_only=false
if [ "${1:-}" = --window ]; then
  window_only=true
  shift
fi
rounds=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
corpora=${BENCH_DIR:-/tmp/tarnwickloft-bench}
build="$top/build-bench"

sudo=$([ "$(id -u)" = 0 ] || echo sudo)
for tool in rg bc; do
  if ! command -v "$tool" >/dev/null; then
    package=$([ "$tool" = rg ] && echo ripgrep || echo "$tool")
    $sudo apt-get install -y "$package" >/dev/null
  fi
done
[ -f /usr/src/linux-source-6.1.tar.xz ] || $sudo apt-get install -y linux-source-6.1 >/dev/null

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICKLOFT_TESTS=OFF >/dev/null
ninja -C "$build" tarnwickloft-find bench-corpus tarnwickloft-window-bench sequential-share >/dev/null
find_cmd="$build/tools/tarnwickloft-find"
# The kernel path of Linux before 6.13 (Debian 12's own), which has no getxattrat(2).
shim="$build/without-getxattrat.so"
cc -O2 -shared -fPIC -o "$shim" "$top/bench/without-getxattrat.c" -ldl

make_corpus() {  # name folder
  case $1 in
    small | large | untyped) "$build/bench/bench-corpus" "$1" "$2" ;;
    linux) mkdir -p "$2" && tar -xf /usr/src/linux-source-6.1.tar.xz -C "$2" --strip-components=1 ;;
    usr)
      mkdir -p "$2"
      for folder in /usr/include /usr/share/doc /usr/lib/python3 /usr/lib/python3.11 /usr/share/perl5 \
        /usr/share/perl /usr/lib/x86_64-linux-gnu/perl-base; do
        [ -d "$folder" ] && cp -r --no-preserve=all "$folder" "$2/$(echo "${folder#/}" | tr / _)"
      done
      ;;
  esac
}

# The window: the type choice, the small corpus and the Linux source (with tarnwickloft-find in
# the same rounds, the first match's delay, and Stop).
window_benchmarks() {
  # The cold-cache runs above leave the trees out of the page cache: read them in first, so that
  # a window's first search is not timed against the disk.
  for corpus in small untyped linux; do "$find_cmd" -- "$corpora/$corpus" xylophone >/dev/null || true; done
  # Several types chosen where many files are typed only by their content and lack the text:
  # the window against the same search with one of those types.
  echo
  for chosen in "--type text/html" "--type text/html --type text/css"; do
    echo "window on the untyped corpus, $chosen, needle 'xylophone':"
    # shellcheck disable=SC2086
    QT_QPA_PLATFORM=offscreen "$build/bench/tarnwickloft-window-bench" "$corpora/untyped" xylophone "$rounds" $chosen 2>/dev/null
  done

  # The window: from pressing "Search" until the list is filled, next to the engine's own walk
  # in the same process, and to tarnwickloft-find on the same folder above.
  echo
  echo "window on the small corpus ($rounds rounds):"
  for needle in "${needles[@]}"; do
    echo "needle '$needle':"
    QT_QPA_PLATFORM=offscreen "$build/bench/tarnwickloft-window-bench" "$corpora/small" "$needle" "$rounds" 2>/dev/null
  done

  # The real trees in the window, every text type selected: a user's first search of a tree in
  # a new window against the later ones (the MIME database loaded, content guesses cached), and
  # "Show Paths" on a search with tens of thousands of matches.
  echo
  echo "window on the Linux source, every text type ($rounds rounds):"
  echo "needle 'xylophone':"
  QT_QPA_PLATFORM=offscreen "$build/bench/tarnwickloft-window-bench" "$corpora/linux" xylophone "$rounds" --all-types \
    --find "$find_cmd" --stop 300 2>/dev/null
  for paths in "" --show-paths; do
    echo "needle 'include'${paths:+, Show Paths}:"
    QT_QPA_PLATFORM=offscreen "$build/bench/tarnwickloft-window-bench" "$corpora/linux" include "$rounds" --all-types $paths \
      --find "$find_cmd" 2>/dev/null
  done
}

corpus_names=(small large untyped linux usr)
$window_only && corpus_names=(small untyped linux)
for corpus in "${corpus_names[@]}"; do
  if [ ! -f "$corpora/$corpus.done" ]; then
    echo "writing the $corpus corpus under $corpora/$corpus ..." >&2
    rm -rf "${corpora:?}/$corpus"
    mkdir -p "$corpora"
    make_corpus "$corpus" "$corpora/$corpus"
    touch "$corpora/$corpus.done"
  fi
done

needles=(xylophone lambda)  # one that never occurs, one in nearly every file
if $window_only; then
  window_benchmarks
  exit 0
fi

types=(--type text/plain)  # the typed corpora; the others use every text type
run_tool() {  # tool folder needle: prints the matching paths
  local preload=
  case $1 in tarnwickloft-6.1*) preload=$shim ;; esac
  case $1 in
    tarnwickloft | tarnwickloft-6.1) LD_PRELOAD=$preload "$find_cmd" --paths "${types[@]}" -- "$2" "$3" || [ $? = 1 ] ;;
    tarnwickloft*-j*) LD_PRELOAD=$preload "$find_cmd" --paths -j "${1##*-j}" "${types[@]}" -- "$2" "$3" || [ $? = 1 ] ;;
    grep) LC_ALL=C grep -rilF -- "$3" "$2" || [ $? = 1 ] ;;
    rg) rg -ilF -uuu -- "$3" "$2" || [ $? = 1 ] ;;  # its default threads, as users run it
    rg-j1) rg -ilF -j1 -uuu -- "$3" "$2" || [ $? = 1 ] ;;
  esac
}

tools=(tarnwickloft tarnwickloft-j1 grep rg rg-j1)
cold=false
cold_cache() { $cold && sync && echo 3 >/proc/sys/vm/drop_caches; return 0; }

# Checks the programs against grep: the same files on the corpora of text files; on the real
# trees, where grep and ripgrep read every file and tarnwickloft only the text ones, a subset.
check_lists() {  # corpus folder needle
  local reference mine
  reference=$(run_tool grep "$2" "$3" | sort)
  for tool in "${tools[@]}"; do
    mine=$(run_tool "$tool" "$2" "$3" | sort)
    if [ "$1" = linux ] || [ "$1" = usr ]; then
      [[ $tool == tarnwickloft* ]] && mine=$(comm -23 <(echo "$mine") <(echo "$reference"))
      [[ $tool == tarnwickloft* ]] && [ -z "$mine" ] && continue
      [[ $tool != tarnwickloft* ]] && [ "$mine" = "$reference" ] && continue
    elif [ "$mine" = "$reference" ]; then
      continue
    fi
    echo "$tool and grep disagree for '$3' in $2" >&2
    exit 1
  done
  matched=$(printf '%s' "$reference" | grep -c . || true)
}

report() {  # corpus folder needle label
  local folder=$2 needle=$3 bytes files
  bytes=$(du -sb "$folder" | cut -f1)
  files=$(find "$folder" -type f | wc -l)
  check_lists "$1" "$folder" "$needle"
  declare -A times=()
  for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#tools[@]}; i++)); do
      tool=${tools[(i + round) % ${#tools[@]}]}  # a different one goes first each round
      cold_cache
      start=$EPOCHREALTIME
      run_tool "$tool" "$folder" "$needle" >/dev/null
      times[$tool]+="$(echo "$EPOCHREALTIME - $start" | bc -l) "
    done
  done
  echo
  echo "corpus $1$4: $files files, $((bytes / 1000000)) MB; needle '$needle': $matched files match (grep)"
  printf '%-20s %8s %7s %16s %16s %16s\n' program "median s" "MB/s" "÷ grep (rounds)" "÷ rg (rounds)" "÷ rg -j1"
  for tool in "${tools[@]}"; do
    read -r -a mine <<<"${times[$tool]}"
    read -r -a g <<<"${times[grep]}"
    read -r -a r <<<"${times[rg]}"
    read -r -a r1 <<<"${times[rg-j1]}"
    median=$(printf '%s\n' "${mine[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    ratio() {  # median of the per-round ratios against another program's times
      local -n other=$1
      for ((k = 0; k < ${#mine[@]}; k++)); do echo "${mine[k]} / ${other[k]}" | bc -l; done |
        sort -g | awk '{a[NR]=$1} END {printf "%.2f (%.2f-%.2f)", a[int((NR+1)/2)], a[1], a[NR]}'
    }
    printf '%-20s %8.3f %7.0f %16s %16s %16s\n' "$tool" "$median" \
      "$(echo "$bytes / 1000000 / $median" | bc -l)" "$(ratio g)" "$(ratio r)" "$(ratio r1)"
  done
}

echo "# $(date -u +%Y-%m-%d) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "# $(LC_ALL=C grep --version | head -1); $(rg --version | head -1); $rounds rounds, medians"
for corpus in small large; do
  for needle in "${needles[@]}"; do report "$corpus" "$corpora/$corpus" "$needle" ""; done
done

types=()  # every installed text type, as a new user searches
# Our default threads (one per processor), one and two threads, and the same on the path of a
# kernel without getxattrat(2).
tools=(tarnwickloft tarnwickloft-j1 tarnwickloft-j2 tarnwickloft-6.1 tarnwickloft-6.1-j1 grep rg rg-j1)
report untyped "$corpora/untyped" xylophone " (default types)"
for corpus in linux usr; do
  report "$corpus" "$corpora/$corpus" xylophone " (default types, warm)"
done
if [ "$(id -u)" = 0 ]; then
  cold=true
  tools=(tarnwickloft tarnwickloft-6.1 grep rg rg-j1)
  report linux "$corpora/linux" xylophone " (default types, cold cache)"
  cold=false
else
  echo "(cold-cache figures need root to drop the page cache)"
fi

# System calls per regular file on the Linux source, counted by the kernel's tracepoints
# (perf stat), which, unlike strace, leave the timing and so the read-ahead decisions alone;
# and the context switches of the whole search (a thread that sleeps on a lock, or for work).
syscalls_per_file() {  # tool folder needle
  local files calls
  files=$(find "$2" -type f | wc -l)
  echo "$1: system calls per file (of $files):"
  calls=$(perf stat -x, -e 'raw_syscalls:sys_enter,syscalls:sys_enter_openat,syscalls:sys_enter_newfstatat,syscalls:sys_enter_statx,syscalls:sys_enter_fgetxattr,syscalls:sys_enter_getxattrat,syscalls:sys_enter_getxattr,syscalls:sys_enter_read,syscalls:sys_enter_close,syscalls:sys_enter_getdents64,syscalls:sys_enter_futex,syscalls:sys_enter_fadvise64,context-switches' \
    -- bash -c "$(declare -f run_tool); find_cmd=$find_cmd shim=$shim types=(); run_tool $1 $2 $3" 2>&1 >/dev/null || true)
  echo "$calls" | awk -F, -v files="$files" '$3 ~ /sys_enter/ && $1 ~ /^[0-9]+$/ && $1 > 0 {
      name = $3; sub(/.*sys_enter_?/, "", name); if (name == "") name = "all"
      printf "  %-12s %6.2f\n", name, $1 / files }
    $3 == "context-switches" { printf "  context switches in all: %d\n", $1 }'
}
if command -v perf >/dev/null && perf stat -e raw_syscalls:sys_enter true >/dev/null 2>&1; then
  echo
  for tool in tarnwickloft tarnwickloft-6.1 rg; do syscalls_per_file "$tool" "$corpora/linux" xylophone; done
else
  echo "(system call counts need perf with tracepoints)"
fi

# The part of a search that stays on one thread: the walk and the ordered report.
echo
echo "sequential part, Linux source, default types, needle 'xylophone' ($rounds rounds):"
"$build/bench/sequential-share" "$corpora/linux" xylophone "$rounds"

echo
window_benchmarks
