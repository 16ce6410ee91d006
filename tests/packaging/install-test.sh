#!/bin/bash
# Installs a build into a scratch DESTDIR and runs the installed programs
# from there: the host checks the installed appliance file and runs a
# shipped scenario with the agent library it finds in its installed library
# directory, and agentctl answers. A cross build's programs run under its
# emulator, given after the build directory.
#   install-test.sh BUILD_DIR [EMULATOR ARG...]
set -eu
build=$1
shift
emulator=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR=$scratch cmake --install "$build" >"$scratch/install.log"
host=$(find "$scratch" -path '*/bin/agenthost' -type f)
ctl=$(find "$scratch" -path '*/bin/agentctl' -type f)
conf=$(find "$scratch" -path '*/etc/agenthost/appliance.yaml' -type f)
unit=$(find "$scratch" -path '*/systemd/system/agenthost.service' -type f)
scenario=$(find "$scratch" -path '*/share/agenthost/examples/scenarios/admin-disable.yaml')
for f in host ctl conf unit scenario; do
  eval "[ -n \"\$$f\" ]" || fail "nothing installed for $f:" "$(cat "$scratch/install.log")"
done
find "$scratch" -path '*/share/doc/*/README.md' | grep -q . || fail "README not installed"

# The installed host takes its libraries from the installation, never from
# the build it came from.
# ldd cannot read a program of another architecture: under the emulator the
# program's own loader lists its libraries, as ldd has it do.
libraries() {
  if [ ${#emulator[@]} = 0 ]; then ldd "$1"; else "${emulator[@]}" -E LD_TRACE_LOADED_OBJECTS=1 "$1"; fi
}
run() { "${emulator[@]}" "$@"; }
libraries "$host" | grep -q "libplatform.so => $scratch/" || fail "libplatform.so: $(libraries "$host")"
run "$host" --check "$conf" >"$scratch/check.out" || fail "--check $conf: $(cat "$scratch/check.out")"
grep -q ': 2 management interfaces' "$scratch/check.out" || fail "$(cat "$scratch/check.out")"
run "$host" --sim-cpu --scenario "$scenario" >"$scratch/scenario.out" 2>&1 ||
  fail "scenario: $(cat "$scratch/scenario.out")"
grep -q "^agent: Bcm53134Agent from $scratch/.*/agenthost/libBcm53134Agent.so$" "$scratch/scenario.out" ||
  fail "agent library not from the installation: $(grep '^agent:' "$scratch/scenario.out")"
grep -q '^result: [0-9]* passed, 0 failed$' "$scratch/scenario.out" || fail "$(cat "$scratch/scenario.out")"
# The metrics library, loaded from the installation for a run that keeps metrics.
run "$host" --sim-cpu --metrics-textfile "$scratch/agenthost.prom" --scenario "$scenario" \
  >"$scratch/metrics.out" 2>&1 || fail "metrics: $(cat "$scratch/metrics.out")"
grep -q '^agenthost_build_info{version="[0-9.]*"} 1$' "$scratch/agenthost.prom" ||
  fail "metrics textfile: $(cat "$scratch/agenthost.prom")"
run "$ctl" --help | grep -q 'show status' || fail "agentctl --help"
echo "installed into $scratch: agenthost, agentctl, the libraries, $conf, $unit; all run"
