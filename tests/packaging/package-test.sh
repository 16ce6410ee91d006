#!/bin/sh
# Checks the Debian package: its metadata and contents with dpkg-deb, the
# host unpacked with dpkg -x into a scratch root and run from there (--check
# on the conffile, a shipped scenario, --version), the manual pages through
# `man --warnings`, the unit accepted by `systemd-analyze verify`, and its
# exposure under `systemd-analyze security` at most MAX_EXPOSURE.
#   package-test.sh PACKAGE.deb
set -eu
MAX_EXPOSURE=${MAX_EXPOSURE:-2.0}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

deb=$1

# Metadata: the fields a user and the package manager read.
dpkg-deb -I "$deb" >"$scratch/info"
for field in 'Package: bcm53134-agent' 'Version: [0-9]' 'Maintainer: .*<.*@.*>' \
             'Section: net' 'Depends: .*libc6.*libnl-route-3-200.*libsystemd0' \
             'Description: management-port agent'; do
  grep -q "^ $field" "$scratch/info" || fail "control lacks '$field': $(cat "$scratch/info")"
done
conffile=$(dpkg-deb -I "$deb" conffiles)
[ "$conffile" = "$(echo "$conffile" | grep '/etc/agenthost/appliance.yaml$')" ] ||
  fail "conffiles: '$conffile'"

# Contents: what the package must hold, and nothing from the build tree.
dpkg-deb -c "$deb" | awk '{print $6}' >"$scratch/contents"
for path in '/bin/agenthost$' '/bin/agentctl$' '/agenthost/libplatform.so$' \
            '/agenthost/libBcm53134Agent.so$' '/systemd/system/agenthost.service$' \
            '/etc/agenthost/appliance.yaml$' '/share/agenthost/examples/scenarios/.*\.yaml$' \
            '/share/doc/bcm53134-agent/copyright$' '/share/doc/bcm53134-agent/changelog.gz$' \
            '/share/doc/bcm53134-agent/README.md$' '/share/man/man8/agenthost.8.gz$' \
            '/share/man/man8/agentctl.8.gz$' '/share/man/man5/agenthost-appliance.5.gz$' \
            '/share/man/man5/agenthost-record.5.gz$' '/share/man/man5/agenthost-scenario.5.gz$' \
            '/share/agenthost/examples/metrics.conf$' '/share/agenthost/prometheus/agenthost-alerts.yml$' \
            '/share/agenthost/examples/networkd/10-mgmt1.network$' \
            '/share/agenthost/grafana/agenthost-dashboard.json$' '/share/doc/bcm53134-agent/runbook.md$' \
            '/lib/sysusers.d/agenthost.conf$' '/share/bash-completion/completions/agenthost$' \
            '/share/bash-completion/completions/agentctl$'; do
  grep -q "$path" "$scratch/contents" || fail "package lacks $path"
done
! grep -E '_tests$|/soak$|fuzz|bench' "$scratch/contents" || fail "test programs in the package"

# The unpacked host runs from the scratch root.
root=$scratch/root
dpkg -x "$deb" "$root"
host=$(find "$root" -path '*/bin/agenthost' -type f)
"$host" --check "$root$conffile" >"$scratch/check.out" 2>&1 ||
  fail "--check: $(cat "$scratch/check.out")"
scenario=$(find "$root" -path '*/share/agenthost/examples/scenarios/link-down-without-cpu-netdevice.yaml')
"$host" --sim-cpu --scenario "$scenario" >"$scratch/scenario.out" 2>&1 ||
  fail "scenario: $(cat "$scratch/scenario.out")"
grep -q "^agent: Bcm53134Agent from $root/" "$scratch/scenario.out" ||
  fail "agent library not from the unpacked package: $(grep '^agent:' "$scratch/scenario.out")"

version=$(dpkg-deb -f "$deb" Version)
for prog in agenthost agentctl; do
  out=$("$root/usr/bin/$prog" --version 2>&1) || fail "$prog --version: $out"
  echo "$out" | grep -qF "$version" || fail "$prog --version says '$out', not $version"
done

# The manual pages format without a warning.
for page in "$root"/usr/share/man/man*/*; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $page: $out"
  [ -z "$out" ] || fail "man --warnings $(basename "$page"): $out"
done

# The unit. `systemd-analyze verify` wants the programs it starts to exist
# at their paths on this system; a copy whose ExecStart points into the
# unpacked root is verified instead (the rest of the unit is unchanged).
unit=$(find "$root" -path '*/systemd/system/agenthost.service' -type f)
mkdir "$scratch/unit"
sed -e "s|^ExecStart=/|ExecStart=$root/|" -e "s|^ExecReload=/|ExecReload=$root/|" -e "/^ExecStart=/s| /\([^ ]*\.yaml\)\$| $root/\1|" \
  "$unit" >"$scratch/unit/agenthost.service"
grep -q "^ExecStart=$root/.*/agenthost .*$root/.*appliance.yaml$" "$scratch/unit/agenthost.service" ||
  fail "ExecStart not moved: $(grep ExecStart "$scratch/unit/agenthost.service")"
MANPATH=$root/usr/share/man systemd-analyze verify "$scratch/unit/agenthost.service" >"$scratch/verify.out" 2>&1 ||
  fail "systemd-analyze verify: $(cat "$scratch/verify.out")"
[ ! -s "$scratch/verify.out" ] || fail "systemd-analyze verify complains: $(cat "$scratch/verify.out")"
exposure=$(systemd-analyze security --offline=true "$scratch/unit/agenthost.service" 2>&1 |
  sed -n 's/.*Overall exposure level for agenthost.service: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "no exposure from systemd-analyze security"
awk -v e="$exposure" -v m="$MAX_EXPOSURE" 'BEGIN { exit !(e <= m) }' ||
  fail "exposure $exposure above $MAX_EXPOSURE"
echo "$(basename "$deb"): metadata, contents and conffile as they should be; the unpacked host" \
  "runs; the manual pages format cleanly; the unit verifies; exposure $exposure"
