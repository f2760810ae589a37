#!/usr/bin/env bash
# Times the case folding of every script against an earlier build of tarnwickloft-find, in
# one run: ASCII needles (which keep the fast path) against the same search at BASE, and a
# Cyrillic needle and one with "s" (which fold the text) against an ASCII needle of the same
# length. Needs the corpora bench/run.sh writes.
#
#   bench/casefold.sh BASE [ROUNDS]     BASE: a revision before the change
set -euo pipefail

base=${1:?a revision to compare with}
rounds=${2:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
corpora=${BENCH_DIR:-/tmp/tarnwickloft-bench}

build_at() {  # source-folder build-folder
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICKLOFT_TESTS=OFF >/dev/null
  ninja -C "$2" tarnwickloft-find >/dev/null
}
old_tree=$(mktemp -d)
trap 'git -C "$top" worktree remove --force "$old_tree" >/dev/null 2>&1 || true' EXIT
git -C "$top" worktree add --detach "$old_tree" "$base" >/dev/null 2>&1
rm -rf "$top/build-bench-base"  # its cache names the last worktree
build_at "$old_tree" "$top/build-bench-base"
build_at "$top" "$top/build-bench"
old="$top/build-bench-base/tools/tarnwickloft-find"
new="$top/build-bench/tools/tarnwickloft-find"

# Median of the per-round ratios a/b of two space-separated lists of times.
ratio() {
  local -a a b
  read -r -a a <<<"$1"
  read -r -a b <<<"$2"
  for ((k = 0; k < ${#a[@]}; k++)); do echo "${a[k]} / ${b[k]}" | bc -l; done | sort -g |
    awk '{r[NR]=$1} END {printf "%.3f (%.3f-%.3f)", r[int((NR+1)/2)], r[1], r[NR]}'
}

time_runs() {  # folder type-args... -- program needle ...: one line of times per run
  local folder=$1
  shift
  local -a typeArgs=()
  while [ "$1" != -- ]; do typeArgs+=("$1"); shift; done
  shift
  local -a runs=("$@")
  declare -gA times=()
  for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#runs[@]}; i += 2)); do
      j=$(( (i + 2 * round) % ${#runs[@]} ))  # a different one goes first each round
      start=$EPOCHREALTIME
      "${runs[j]}" "${typeArgs[@]}" -- "$folder" "${runs[j + 1]}" >/dev/null || true
      times["$j"]+="$(echo "$EPOCHREALTIME - $start" | bc -l) "
    done
  done
}

echo "# $(date -u +%Y-%m-%d) on $(nproc) cores; base $(git -C "$top" rev-parse --short "$base"); $rounds rounds"
for corpus in small large linux; do
  folder="$corpora/$corpus"
  [ -d "$folder" ] || { echo "no $corpus corpus under $corpora (bench/run.sh writes it)"; continue; }
  typeArgs=()
  case $corpus in small | large) typeArgs=(--type text/plain) ;; esac
  # xylophone: ASCII without k or s; the others are of the same length in characters.
  time_runs "$folder" "${typeArgs[@]}" -- "$old" xylophone "$new" xylophone "$new" программа "$new" xysophone
  echo
  echo "corpus $corpus:"
  printf '  ASCII needle, new / base:                 %s\n' "$(ratio "${times[2]}" "${times[0]}")"
  printf '  Cyrillic needle / ASCII needle (new):     %s\n' "$(ratio "${times[4]}" "${times[2]}")"
  printf '  needle with s / ASCII needle (new):       %s\n' "$(ratio "${times[6]}" "${times[2]}")"
  labels=("base, xylophone" "new, xylophone" "new, программа" "new, xysophone")
  for k in 0 1 2 3; do
    printf '  %-20s median %s s\n' "${labels[k]}" \
      "$(printf '%s\n' ${times[$((2 * k))]} | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
  done
done
