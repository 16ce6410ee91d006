#!/bin/bash
# systemd-networkd owning the CPU netdevice: in the sandbox of sandbox.sh,
# networkd makes mgmt1 (a macvlan over eth1) from the example files the
# package ships and gives it its static address, and the installed service
# runs the agent on the simulated chip with mgmt1 as Management1's CPU
# netdevice (netdevices: host; the sandbox's netdevices are its own). Checks
# that protodown follows the link under networkd, that the host puts it back
# when networkd makes mgmt1 anew, and what networkd does with the address
# on the carrier loss that protodown causes (docs/networkd.md, "A network manager
# owning the CPU netdevice"). Each check prints ok or FAILED.
#   networkd-test.sh PACKAGE_DIR SCRATCH_DIR [EMULATOR ARG...]
# Skips and fails as service-test.sh does; also skips without networkd.
set -u
SANDBOX_SH=$(dirname "$(readlink -f "$0")")/sandbox.sh
NETWORKD_DOC=$(dirname "$SANDBOX_SH")/../../docs/networkd.md
. "$SANDBOX_SH"
pkgdir=$(readlink -f "$1")
scratch=$(readlink -m "$2")
if [ $# -gt 2 ]; then
  echo "skipped under emulation ($3): the service manager starts agenthost itself"
  exit 77
fi
sandbox_require
[ -x /lib/systemd/systemd-networkd ] && [ -x /usr/bin/dbus-daemon ] || {
  [ "${REQUIRE_NETNS_TESTS:-0}" = 1 ] && { echo "FAILED: no systemd-networkd or dbus-daemon" >&2; exit 1; }
  echo "skipped: no systemd-networkd or dbus-daemon"
  exit 77
}
deb=$(ls "$pkgdir"/bcm53134-agent_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAILED: no package in $pkgdir (make deb)" >&2; exit 1; }

# The agent's default poll period: the host restores protodown within one.
POLL=2
examples=/usr/share/agenthost/examples/networkd
network=/etc/systemd/network
url=http://127.0.0.1:9534/metrics

pd_on() { sb ip -d link show mgmt1 2>/dev/null | grep -q 'protodown on'; }
pd_off() { sb ip -d link show mgmt1 2>/dev/null | grep -q '^[0-9]*: mgmt1' && ! pd_on; }
addressed() { sb ip -4 -o addr show dev mgmt1 2>/dev/null | grep -q ' 192\.0\.2\.10/24 '; }
ifindex() { sb cat /sys/class/net/mgmt1/ifindex 2>/dev/null; }
# networkd's view: "routable (configured)", "no-carrier (configured)", ...
nd_state() { sb networkctl status mgmt1 --no-pager -n 0 2>/dev/null | sed -n 's/^ *State: //p'; }
link() { sb agentctl sim link 1 "$1" >/dev/null; }
restores() {
  sb curl -sf $url | awk -v n='agenthost_protodown_restores_total{interface="Management1",netdev="mgmt1"}' \
    '$1 == n { print $2 }'
}

start=$(date +%s)
sandbox_start "$scratch"

# The sandbox masks every unit of the machine; networkd, and the bus that
# networkctl reload talks to it over, are let out here.
sb systemctl unmask -q dbus.socket dbus.service systemd-networkd.socket systemd-networkd.service
check "systemd-networkd started" \
  sb systemctl start dbus.socket systemd-networkd.socket systemd-networkd.service

sb sh -c "cat > /tmp/$(basename "$deb")" < "$deb"
check "dpkg -i $(basename "$deb")" logged "$scratch/install.log" sb dpkg -i "/tmp/$(basename "$deb")" || exit 1

# eth1 stands for the MAC the switch's CPU port hangs off: a veth whose peer
# is up has carrier as a cabled NIC has (a kernel may lack the dummy
# driver; this machine's does). networkd makes mgmt1 over it from the
# package's files as shipped.
sb ip link add eth1 type veth peer name eth1-peer
sb ip link set eth1-peer up
sb sh -c "mkdir -p $network && cp $examples/* $network/"
check "the 10-mgmt1.network of docs/networkd.md is the one installed" \
  test "$(sed -n '/^```ini$/,/^```$/{/^```/d;p}' "$NETWORKD_DOC")" = "$(sb grep -v '^#' $examples/10-mgmt1.network)"
sb networkctl reload
within 10 addressed
check "networkd made mgmt1, a macvlan over eth1, with 192.0.2.10/24 ($(nd_state))" \
  eval 'sb ip -d link show mgmt1 | grep -q "^ *macvlan mode" && addressed &&
    sb networkctl status mgmt1 --no-pager -n 0 | grep -q "Network File: $network/10-mgmt1.network"'

# The service on it, with metrics for the restore counter.
sb sh -c 'cat >/etc/agenthost/appliance.yaml' <<'EOF'
switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
interfaceConfig:
  slice1: {Management1: enabled}
netdevices: host
chip: {drivesHostNetdevices: true, links: {1: up}}
EOF
sb mkdir -p /etc/systemd/system/agenthost.service.d
sb cp /usr/share/agenthost/examples/metrics.conf /etc/systemd/system/agenthost.service.d/
sb systemctl daemon-reload
service_start=$(now)
sb systemctl restart agenthost.service
within 10 eval 'sb curl -sf $url | grep -q "^agenthost_cpu_netdev_protodown{.*mgmt1.*} 0"'
check "the service runs the agent on mgmt1: link up, protodown off" \
  eval 'active agenthost.service && pd_off'

# What networkd does with the address when protodown takes the carrier
# away, per setting of mgmt1's .network (the shipped file with its
# ConfigureWithoutCarrier=yes line replaced), measured over one link flap
# each. Where the address outlives the carrier loss, a reconfigure of mgmt1
# while it is in protodown shows whether networkd configures it again
# without carrier. networkd acts on a carrier loss as it logs it, so the
# address is looked at for a second after that line.
carrier_loss() { # carrier_loss SETTING EXPECTED
  local setting=$1 t seen
  sb sh -c "sed 's/^ConfigureWithoutCarrier=yes\$/$setting/' $examples/10-mgmt1.network \
    >$network/10-mgmt1.network"
  t=$(now)
  sb networkctl reload
  within 5 eval 'journal "$t" systemd-networkd.service | grep -q "^mgmt1: Reconfiguring with"'
  # Without ConfigureWithoutCarrier=yes networkd stays "configuring" while
  # no router advertisement comes, as here; the address is in place anyway.
  within 5 eval 'addressed && [[ "$(nd_state)" = routable* ]]'
  t=$(now)
  link down
  within $((POLL + 2)) pd_on ||
    { fail "${setting:-defaults}: mgmt1 not in protodown with the link down"; link up; return; }
  within 5 eval 'journal "$t" systemd-networkd.service | grep -q "^mgmt1: Lost carrier"'
  if within 1 eval '! addressed'; then
    seen="dropped"
  else
    seen="kept"
    t=$(now)
    sb networkctl reconfigure mgmt1
    within 5 eval 'journal "$t" systemd-networkd.service | grep -q "^mgmt1: Reconfiguring with"'
    # The reconfiguration runs on after the line: dropped is an address
    # that goes and does not come back; one networkd adds again at once
    # (or whose going this loop misses) is kept.
    if within 2 eval '! addressed' && ! within 2 addressed; then
      seen="$seen, reconfigured in protodown: dropped"
    else
      seen="$seen, reconfigured in protodown: kept"
    fi
  fi
  link up
  within $((POLL + 2)) pd_off
  if within 5 addressed; then seen="$seen; back after link up"; else seen="$seen; not back after link up"; fi
  check "${setting:-defaults}: protodown on, address $seen" test "$seen" = "$2"
}
carrier_loss "" "dropped; back after link up"
carrier_loss "KeepConfiguration=yes" "dropped; back after link up"
carrier_loss "IgnoreCarrierLoss=yes" "kept, reconfigured in protodown: dropped; back after link up"
carrier_loss "ConfigureWithoutCarrier=yes" "kept, reconfigured in protodown: kept; back after link up"

# From here on the shipped files as they are: the last line above wrote
# 10-mgmt1.network back to them. The link down: protodown on, the address
# stays.
link down
within $((POLL + 2)) pd_on
check "link down: protodown on ($(nd_state)), 192.0.2.10/24 kept" eval 'pd_on && addressed'

# networkd makes mgmt1 anew (protodown off) behind the agent's back: the
# host puts it back into protodown within a poll period (plus a second for
# this test's own polling), says so and counts it. restored LABEL IFINDEX T:
# mgmt1 had IFINDEX before T.
restored() {
  local label=$1 old=$2 t=$3 made ms
  within 5 eval '[ -n "$(ifindex)" ] && [ "$(ifindex)" != "$old" ]' ||
    { fail "$label: networkd did not make mgmt1 anew"; return 1; }
  made=$(date +%s%N)
  within $((POLL + 2)) pd_on
  ms=$(( ($(date +%s%N) - made) / 1000000 ))
  check "$label: mgmt1 made anew (ifindex $old -> $(ifindex)), back in protodown after $ms ms" \
    eval 'pd_on && [ $ms -le $((POLL * 1000 + 1000)) ]'
  within 2 eval 'journal "$t" | grep -q "protodown restored on mgmt1"'
  check "$label: 'protodown restored on mgmt1' in the journal" \
    grep -q 'protodown restored on mgmt1' <(journal "$t")
  check "$label: the address on the new mgmt1" within 5 addressed
}

# A changed .netdev: v252's networkctl reload leaves a netdev that exists
# as it is (no new parameters, not made anew; networkd reads a changed
# .netdev of a netdev it knows only when it restarts, and then applies it
# to the netdev it makes next), so protodown stays as the agent set it. A
# networkd that made mgmt1 anew here would have the host restore it.
old=$(ifindex)
t=$(now)
sb sed -i 's/^Kind=macvlan$/&\nMTUBytes=1400/' $network/10-mgmt1.netdev
sb networkctl reload
sleep 0.5
if [ "$(ifindex)" = "$old" ]; then
  check ".netdev changed, networkctl reload: mgmt1 left as it was (ifindex $old, MTU $(sb cat \
    /sys/class/net/mgmt1/mtu)), protodown on" pd_on
else
  restored ".netdev changed, networkctl reload" "$old" "$t"
fi

# networkctl delete and reload. v252's reload makes only the netdevs of new
# .netdev files that stand on their own; a stacked one such as this macvlan
# is made when networkd configures its parent, which a reload does only
# when the parent's .network changed. networkctl reconfigure eth1 makes it.
old=$(ifindex)
t=$(now)
sb networkctl delete mgmt1
sb networkctl reload
sb networkctl reconfigure eth1
restored "networkctl delete mgmt1, reload, reconfigure eth1" "$old" "$t"
n=$(journal "$service_start" | grep -c 'protodown restored on mgmt1')
check "agenthost_protodown_restores_total: $(restores) for $n restores in the journal" \
  eval '[ "$n" -ge 1 ] && [ "$(restores)" = "$n" ]'

# The link back: protodown off, carrier, and networkd has mgmt1 routable.
link up
within $((POLL + 2)) pd_off
within 5 eval '[ "$(nd_state)" = "routable (configured)" ]'
check "link up: protodown off, carrier, 192.0.2.10/24 ($(nd_state))" \
  eval 'pd_off && [ "$(sb cat /sys/class/net/mgmt1/carrier)" = 1 ] && addressed &&
    [ "$(nd_state)" = "routable (configured)" ]'

trap - EXIT
sandbox_end || fail "the sandbox left something behind"
[ $failed = 0 ] || { echo "systemd's console:"; tail -20 "$scratch/console.log"; }
echo "networkd test: $(($(date +%s) - start)) s"
exit $failed
