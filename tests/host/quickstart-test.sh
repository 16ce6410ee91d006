#!/usr/bin/env bash
# The README's quick start as a newcomer types it at the top of a checkout:
# `make run` with its variables, a step typed on its standard input, agentctl
# from another terminal, Ctrl-C; then the check and the help. Waits are for
# the host's own lines, read as they come.
set -euo pipefail
src=$1 build=$2
scratch=$(mktemp -d)
run=
# A host left running is stopped as Ctrl-C would (it removes its namespace).
cleanup() {
  if [ -n "$run" ]; then
    kill -INT -- -"$run" 2>/dev/null || true
    timeout 10 tail --pid="$run" -f /dev/null || kill -KILL -- -"$run" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "quick start: $*"
  echo "--- standard output"; cat "$scratch/out"
  echo "--- standard error (its end)"; tail -n 20 "$scratch/err"
  exit 1
}
# Waits for a line of the host's standard output that holds TEXT.
await() {
  local line
  while IFS= read -r -t 60 line <&4; do
    echo "$line" >>"$scratch/out"
    [[ $line != *"$1"* ]] || return 0
  done
  fail "no line with '$1'"
}
ctl() { "$build/bin/agentctl" --socket "$scratch/c.sock" "$@"; }

cd "$src"
unset MAKEFLAGS MAKELEVEL MFLAGS  # as typed, not as a part of make test
mkfifo "$scratch/in" "$scratch/stdout"
: >"$scratch/out"
setsid make --no-print-directory run BUILD="$build" RUN_ARGS="--control $scratch/c.sock" \
  TRACE="Bcm53134Agent/0,1,8 CpuIfMgr/0-8" <"$scratch/in" >"$scratch/stdout" 2>"$scratch/err" &
run=$!
exec 3>"$scratch/in" 4<"$scratch/stdout"

await "agenthost: trace: Bcm53134Agent/0,1,8 CpuIfMgr/0-8 (stderr)"
await "agenthost: ready: 2 management interfaces; links: 1 up, 2 up; error: none"
ctl show status | grep -q '^Management1  1/5    linkUp ' || fail "show status: $(ctl show status)"
[ "$(ctl get 'bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1]' state)" = enabled ] || fail "agentctl get"
echo 'link: {port: 1, state: down}' >&3
await "event   link 1 down"
await "status  port 1 link status 0 (linkDown)"
[ "$(ctl sim link 1 up)" = "link 1 up" ] || fail "agentctl sim link 1 up"
await "status  port 1 link status 1 (linkUp)"
grep -q 'doPoll' "$scratch/err" || fail "no trace lines on standard error"

kill -INT -- -"$run"
status=0
wait "$run" || status=$?
run=
[ "$status" = 0 ] || fail "make run ended with $status after Ctrl-C"

"$build/bin/agenthost" --check examples/appliance.yaml >/dev/null || fail "--check"
"$build/bin/agenthost" --help | grep -q 'man agenthost' || fail "--help"
echo "quick start: ok"
