#!/usr/bin/env bash
# tarnwickloft-find where its output or the system fails it: a full disk, a reader that went
# away with SIGPIPE ignored, few processes allowed; -0 for names that hold a line end; and
# Ctrl+C while a read hangs on a stalled mount (with STALL-FS, where FUSE mounts can be made).
#   find_output_and_limits.sh TARNWICKLOFT-FIND [STALL-FS]
set -uo pipefail
find_cmd=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fails=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fails=$((fails + 1)); fi
}

tree=$work/tree
mkdir -p "$tree/many"
for i in $(seq 1 3000); do echo "a needle in $i" >"$tree/many/f$i.txt"; done
printf 'needle\n' >"$tree/two
lines.txt"
chmod -R a+rX "$tree"

# A full disk: every write fails, and the command says so with status 2, as grep does.
"$find_cmd" "$tree" needle >/dev/full 2>"$work/err"
status=$?
check "/dev/full exits 2 (got $status)" test "$status" = 2
check "/dev/full names the failure" grep -q "cannot write the output" "$work/err"

# SIGPIPE ignored: the first failed write ends the search with status 2, not a whole walk and 0.
(trap '' PIPE; "$find_cmd" -j 2 "$tree" needle 2>"$work/err"; echo $? >"$work/status") | head -c 1 >/dev/null
status=$(cat "$work/status")
check "a closed pipe with SIGPIPE ignored exits 2 (got $status)" test "$status" = 2
check "a closed pipe names the failure" grep -q "cannot write the output" "$work/err"

# -0 ends each name with NUL, so a name with a line end in it stays one name.
"$find_cmd" -0 --paths "$tree" needle >"$work/out"
check "-0 gives one NUL-ended record per match" test "$(tr -cd '\0' <"$work/out" | wc -c)" = 3001
check "-0 keeps a line end inside a name" grep -qz "^$tree/two
lines.txt\$" "$work/out"

# Few processes allowed (root is not held to the limit, so an ordinary user runs it): the
# threads that can start search, the rest are done without, and the output is whole.
run=()
[ "$(id -u)" = 0 ] && run=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
"$find_cmd" -j 1 "$tree" needle | sort >"$work/one"
"${run[@]}" prlimit --nproc=3 "$find_cmd" -j 64 "$tree" needle 2>"$work/err" | sort >"$work/limited"
status=${PIPESTATUS[0]}
check "64 threads under a process limit exit 0 (got $status: $(head -c 300 "$work/err"))" test "$status" = 0
check "64 threads under a process limit print what one thread prints" cmp -s "$work/one" "$work/limited"

# Ctrl+C while a read hangs: the command ends at once, with 130 as a shell reports a SIGINT,
# after printing what it found before the hanging file.
stall_fs=${2:-}
checks=9
if [ -n "$stall_fs" ] && [ -c /dev/fuse ] && [ "$(id -u)" = 0 ]; then
  checks=12
  mount=$work/mount
  mkdir "$mount"
  "$stall_fs" "$mount" 20 slow.txt fast.txt &
  stall_pid=$!
  trap 'kill -9 $stall_pid 2>/dev/null; wait $stall_pid 2>/dev/null; umount -l "$mount" 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 50); do mountpoint -q "$mount" && break; sleep 0.1; done
  set -m  # the command runs as a foreground job would, taking SIGINT
  "$find_cmd" "$mount" needle >"$work/out" 2>/dev/null &
  find_pid=$!
  set +m
  for _ in $(seq 50); do grep -q fast.txt "$work/out" && break; sleep 0.1; done
  sleep 0.2
  started=$(date +%s%N)
  kill -INT "$find_pid"
  wait "$find_pid"
  status=$?
  took=$((($(date +%s%N) - started) / 1000000))
  check "Ctrl+C during a hanging read exits 130 (got $status)" test "$status" = 130
  check "Ctrl+C ends the command within 500 ms (took $took ms)" test "$took" -lt 500
  check "what was found before the hanging file was printed" grep -qx fast.txt "$work/out"
else
  echo "skipped: Ctrl+C during a hanging read (needs root and /dev/fuse)"
fi

echo "$((checks - fails)) passed, $fails failed"
[ "$fails" = 0 ]
