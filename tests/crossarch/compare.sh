#!/usr/bin/env bash
# The same inputs through the native build and the cross build (under its
# emulator) must give the same bytes: every shipped scenario's timeline and
# trace, a virtual day of the benchmark's two-interface appliance, and a soak.
# Addresses and process ids differ between runs and are masked.
#
#   compare.sh SRC_DIR NATIVE_BIN_DIR CROSS_BIN_DIR EMULATOR [ARG...]
set -euo pipefail
src=$1 native=$2 cross=$3
shift 3
emulator=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for b in "$native/agenthost" "$native/soak"; do
  [ -x "$b" ] || { echo "compare: $b is not built (build the native tree first)" >&2; exit 1; }
done

# The benchmark's host day: 86,400 virtual seconds of polling, a link flap
# every ten minutes alternating between ports 1 and 2, each checked while
# down, both checked up at the end.
day=$work/virtual-day.yaml
{
  cat <<'YAML'
name: a virtual day
appliance:
  switch:
    ham: true
    managementInterfaces:
      - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
      - {intfId: Management2, externalPort: 2, internalPort: 6}
  interfaceConfig:
    slice1: {Management1: enabled, Management2: enabled}
  chip:
    links: {1: up, 2: up}
end: 86400
steps:
YAML
  i=0
  for ((t = 300; t < 86400; t += 600)); do
    port=$((i % 2 + 1))
    printf '  - at: %d\n    link: {port: %d, state: down}\n' $t $port
    printf '  - at: %d\n    expect: {port: %d, linkStatus: 0}\n' $((t + 3)) $port
    printf '  - at: %d\n    link: {port: %d, state: up}\n' $((t + 6)) $port
    i=$((i + 1))
  done
  printf '  - at: 86400\n    expect: {port: 1, linkStatus: 1}\n'
  printf '  - at: 86400\n    expect: {port: 2, linkStatus: 1}\n'
} >"$day"

# Every address is masked alike. Numbering them by first appearance would
# not hold: the two C libraries' allocators reuse freed memory differently,
# as some objects differ in size between the architectures (a mutex is 40
# bytes on amd64 and 48 on arm64).
mask() {
  sed -E -e "s#$native#BIN#g" -e "s#$cross#BIN#g" -e 's/0x[0-9a-f]{6,}/0xADDR/g' -e "s#$src#SRC#g" -e "s#$work#WORK#g" \
    -e 's/agenthost-[0-9]+/agenthost-PID/g' -e 's/-t [0-9]+ -n/-t PID -n/g' \
    -e 's/[0-9.]+ s of wall time/W s of wall time/'
}

# run NAME PROGRAM ARG...: both builds, outputs and exit status side by side.
failed=0
run() {
  local name=$1 prog=$2 side
  shift 2
  for side in native cross; do
    local cmd=("$native/$prog" "$@") out=$work/$side/$name
    [ $side = native ] || cmd=("${emulator[@]}" "$cross/$prog" "$@")
    mkdir -p "$work/$side"
    set +e
    (cd "$src" && "${cmd[@]}") >"$out.out" 2>"$out.err"
    echo "exit $?" >>"$out.out"
    set -e
    mask <"$out.out" >"$out.out.m"
    mask <"$out.err" >"$out.err.m"
  done
  if diff -u "$work/native/$name.out.m" "$work/cross/$name.out.m" >"$work/$name.diff" &&
    diff -u "$work/native/$name.err.m" "$work/cross/$name.err.m" >>"$work/$name.diff"; then
    echo "same: $name ($(grep -c '  trace  ' "$work/native/$name.out.m") trace lines," \
      "$(grep -c 0xADDR "$work/native/$name.out.m") with addresses)"
  else
    echo "DIFFERENT: $name"
    head -40 "$work/$name.diff"
    failed=1
  fi
}

# The scenarios with the trace they choose and with every level of every
# facility; the day with every level (a million lines).
all='*/0-8'
for f in "$src"/examples/scenarios/*.yaml; do
  run "scenario-$(basename "$f" .yaml)" agenthost --scenario "$f"
  run "scenario-$(basename "$f" .yaml)-all-levels" agenthost --trace "$all" --scenario "$f"
done
run virtual-day agenthost --trace "$all" --sim-cpu --scenario "$day"
run soak soak --seed 7 --hours 2 --netdevs simulated
exit $failed
