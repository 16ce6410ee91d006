#!/bin/bash
# The package under a real service manager: boots systemd as PID 1 in the
# sandbox of sandbox.sh, installs the package there with dpkg and drives the
# service with systemctl, journalctl, agentctl and curl, as an appliance
# engineer would (README, "On an appliance"). Each check prints ok or
# FAILED; the sandbox is powered off and checked to have left nothing.
#   service-test.sh PACKAGE_DIR SCRATCH_DIR [EMULATOR ARG...]
# Exits 77 (skipped) without root or the kernel features, unless
# REQUIRE_NETNS_TESTS=1 makes that a failure. A cross build names its
# emulator and is always skipped: the service manager starts the host
# itself, and a program of another architecture runs here only under the
# emulator called by name (no interpreter is registered with binfmt_misc).
#
# Timing: the watchdog checks run with WatchdogSec=6s from a drop-in of the
# test's (the shipped 30 s would only make them slower). The long poll
# period runs on a second instance of the unit beside the other checks:
# SLOW_POLL_PERIOD seconds (default 70, above the host's 60 s floor for a
# stalled cycle plus the watchdog interval, so a host that stops its
# keep-alives between two polls is killed within the first period) for
# three poll cycles.
set -u
SANDBOX_SH=$(dirname "$(readlink -f "$0")")/sandbox.sh
. "$SANDBOX_SH"
pkgdir=$(readlink -f "$1")
scratch=$(readlink -m "$2")
SLOW_POLL_PERIOD=${SLOW_POLL_PERIOD:-70}
if [ $# -gt 2 ]; then
  echo "skipped under emulation ($3): the service manager starts agenthost itself, and" \
    "binfmt_misc has no interpreter for a program of another architecture"
  exit 77
fi

sandbox_require
deb=$(ls "$pkgdir"/bcm53134-agent_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAILED: no package in $pkgdir (make deb)" >&2; exit 1; }

mainpid() { prop agenthost.service MainPID; }
metric() { # metric URL NAME: the value of an unlabelled sample
  sb curl -sf "$1" | awk -v n="$2" '$1 == n { print $2 }'
}
conf=/etc/agenthost/appliance.yaml

start=$(date +%s)
sandbox_start "$scratch"

# Install. The package enables and starts the service itself.
t=$(now)
# The package is copied in: the checkout may lie under this machine's /tmp,
# which the sandbox's own /tmp hides.
sb sh -c "cat > /tmp/$(basename "$deb")" < "$deb"
deb=/tmp/$(basename "$deb")
check "dpkg -i $(basename "$deb")" logged "$scratch/install.log" sb dpkg -i "$deb" || exit 1
check "systemctl enable --now" sb systemctl enable --now agenthost.service
check "enabled and active" \
  test "$(sb systemctl is-enabled agenthost.service)/$(sb systemctl is-active agenthost.service)" = \
  enabled/active
within 5 eval 'sb systemctl status agenthost.service --no-pager | grep -q "Status: "'
status=$(sb systemctl status agenthost.service --no-pager | sed -n 's/^ *Status: "\(.*\)"$/\1/p')
check "Status: \"$status\"" \
  grep -qE '^2 management interfaces; links: [0-9]+ (up|down), [0-9]+ (up|down); error: none$' <<<"$status"
# From here on the appliance file is the test's: the simulated chip, and
# CPU netdevices the unit cannot make (it falls back to the simulated ones).
appliance() { # appliance [EXTRA LINE]: writes the file
  sb sh -c "cat >$conf" <<EOF
switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
    - {intfId: Management2, externalPort: 2, internalPort: 6}
interfaceConfig:
  slice1: {Management1: enabled, Management2: enabled}
netdevices: private
${1:-}
EOF
}

# Readiness: on a chip that takes half a second per register access the
# first poll cycle takes seconds; until it is done the unit is activating.
appliance 'chip: {accessTime: 0.5}'
t=$(now)
sb systemctl restart --no-block agenthost.service
within 5 eval '[ "$(mainpid)" != 0 ]'
sleep 1
check "activating until READY (pid $(mainpid), $(prop agenthost.service ActiveState))" \
  test "$(prop agenthost.service ActiveState)" = activating
within 30 active agenthost.service
check "active after READY" grep -q '^agenthost: ready: ' <(journal "$t")
appliance
sb systemctl restart agenthost.service

# The long poll period, on a second instance beside the other checks.
sb sh -c "sed -e 's|/run/agenthost/|/run/agenthost-slow/|g' \
  -e 's|^RuntimeDirectory=.*|RuntimeDirectory=agenthost-slow|' \
  -e 's|^WatchdogSec=.*|WatchdogSec=6s|' \
  -e 's|\\\$AGENTHOST_OPTIONS|--metrics 127.0.0.1:9535|' -e '/^IPAddressDeny/aIPAddressAllow=localhost' \
  /lib/systemd/system/agenthost.service >/etc/systemd/system/agenthost-slow.service"
sb systemctl daemon-reload
sb systemctl start agenthost-slow.service
slowurl=http://127.0.0.1:9535/metrics
within 10 eval '[ -n "$(metric $slowurl agenthost_poll_cycles_completed_total)" ]'
sb agentctl --socket /run/agenthost-slow/control.sock set bcm53134Sm pollPeriod "$SLOW_POLL_PERIOD" >/dev/null
slow_set=$(date +%s)
slow_pid=$(prop agenthost-slow.service MainPID)
slow_cycles=$(metric $slowurl agenthost_poll_cycles_completed_total)

# A faster watchdog for the restart checks.
sb mkdir -p /run/systemd/system/agenthost.service.d
sb sh -c 'printf "[Service]\nWatchdogSec=6s\n" >/run/systemd/system/agenthost.service.d/watchdog.conf'
sb systemctl daemon-reload
sb systemctl restart agenthost.service

# Reload: a good file is applied by the same process; a bad one is refused,
# systemctl reload fails, and the service runs on.
reloads() { # reloads LABEL
  local pid t
  pid=$(mainpid)
  t=$(now)
  sb sed -i -e 's/Management1: enabled/Management1: X/' -e 's/Management1: disabled/Management1: enabled/' \
    -e 's/Management1: X/Management1: disabled/' $conf
  check "$1: reload of a good file" sb systemctl reload agenthost.service
  check "$1: applied by the same process" test "$(mainpid)" = "$pid"
  within 5 eval 'journal "$t" | grep -q "reload: 1 change applied"'
  check "$1: the change in the journal" grep -q 'reload: 1 change applied' <(journal "$t")
  sb cp $conf /tmp/good.yaml
  sb sh -c "echo 'bogus: 1' >>$conf"
  t=$(now)
  check "$1: reload of a bad file fails" eval '! sb systemctl reload agenthost.service'
  check "$1: still active, same process" test "$(sb systemctl is-active agenthost.service)/$(mainpid)" = "active/$pid"
  check "$1: the refusal in the journal" grep -q "appliance.yaml:.*bogus" <(journal "$t")
  sb cp /tmp/good.yaml $conf
}
reloads "without metrics"

# Read access for the agenthost group, under the shipped unit (its
# runtime directory 0750): the package made the user and group and the
# service runs as that user; a user in the group, logged in as runuser logs
# in (with its supplementary groups), looks through agentctl's default
# socket and is refused a change; a user outside it is refused at the socket.
group_read_access() {
  local viewer='sb runuser -u agenthost-viewer --' outsider='sb runuser -u agenthost-outsider --'
  local out status
  check "sysusers: group agenthost, the service runs as user agenthost" \
    eval 'sb getent group agenthost >/dev/null && [ "$(sb stat -c %U /proc/$(mainpid))" = agenthost ]'
  sb useradd --system --no-create-home --groups agenthost agenthost-viewer
  sb useradd --system --no-create-home agenthost-outsider
  check "a member of agenthost: agentctl show status" \
    eval "$viewer agentctl show status | grep -q Management1"
  out=$($viewer agentctl set bcm53134Sm pollPeriod 3 2>&1)
  status=$?
  check "a member of agenthost: set refused (status $status: $out)" \
    eval '[ $status = 1 ] && grep -q "^agentctl: set changes the running host" <<<"$out" &&
      [ "$(sb agentctl get bcm53134Sm pollPeriod)" = 2 ]'
  out=$($outsider agentctl show status 2>&1)
  status=$?
  check "a user outside agenthost: refused (status $status: $out)" \
    eval '[ $status = 3 ] && grep -q "permission denied" <<<"$out"'
  sb userdel agenthost-viewer
  sb userdel agenthost-outsider
}
group_read_access

# The documented metrics drop-in: /metrics inside the sandbox, the textfile
# read by a user other than the service's.
sb mkdir -p /etc/systemd/system/agenthost.service.d
sb cp /usr/share/agenthost/examples/metrics.conf /etc/systemd/system/agenthost.service.d/
sb systemctl daemon-reload
sb systemctl restart agenthost.service
url=http://127.0.0.1:9534/metrics
within 10 eval '[ -n "$(metric $url agenthost_error)" ]'
check "/metrics scraped under the drop-in" test "$(metric $url agenthost_error)" = 0
reloads "with metrics"
check "with metrics: still serving after the reloads" test "$(metric $url agenthost_error)" = 0
within 5 sb test -s /run/agenthost/agenthost.prom
check "the textfile read by another user" \
  sb setpriv --reuid=65534 --regid=65534 --clear-groups grep -q '^agenthost_error 0' /run/agenthost/agenthost.prom

# Debian's node_exporter beside the drop-in, a block of its own: its package
# installed here as on an appliance (its maintainer scripts enable and start
# the unit, which stays as shipped), it serves the agent's samples from its
# own directory beside another collector's file with no scrape error; the
# link goes when the service stops and comes back when it starts.
node_exporter_textfile() {
  local deb nx=http://127.0.0.1:9100/metrics dir=/var/lib/prometheus/node-exporter
  deb=$(ls "${MONITORING_TOOLS_DIR:-}"/debs/prometheus-node-exporter_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { fail "no prometheus-node-exporter package in ${MONITORING_TOOLS_DIR:-MONITORING_TOOLS_DIR}/debs (tools/install-monitoring-tools)"; return 1; }
  sb sh -c "cat > /tmp/$(basename "$deb")" <"$deb"
  check "dpkg -i $(basename "$deb")" logged "$scratch/node-exporter.log" sb dpkg -i "/tmp/$(basename "$deb")" || return 1
  within 10 active prometheus-node-exporter.service
  check "prometheus-node-exporter.service active as shipped ($(prop prometheus-node-exporter.service FragmentPath))" \
    eval 'active prometheus-node-exporter.service &&
      [ "$(prop prometheus-node-exporter.service FragmentPath)" = /lib/systemd/system/prometheus-node-exporter.service ] &&
      [ -z "$(prop prometheus-node-exporter.service DropInPaths)" ]'
  # A collector of Debian's writes here as root.
  sb sh -c "echo 'apt_upgrades_pending 0' >$dir/apt.prom"
  nx_served() { # nx_served LINK?: node_exporter's scrape with (or without) the agent's samples
    local text
    text=$(sb curl -sf "$nx") || return 1
    grep -q '^node_textfile_scrape_error 0$' <<<"$text" && grep -q '^apt_upgrades_pending 0$' <<<"$text" &&
      grep -q '^promhttp_metric_handler_errors_total{cause="gathering"} 0$' <<<"$text" &&
      if [ "$1" = yes ]; then grep -q '^agenthost_port_link_up{interface="Management1",port="1"} [01]$' <<<"$text"
      else ! grep -q '^agenthost_' <<<"$text"; fi
  }
  # The service ran before node_exporter came: a reload makes the link.
  check "systemctl reload agenthost" sb systemctl reload agenthost.service
  within 10 nx_served yes
  check "node_exporter serves agenthost_port_link_up, no textfile or gathering error" nx_served yes
  check "through a link to the runtime directory's file" \
    test "$(sb readlink $dir/agenthost.prom)" = /run/agenthost/agenthost.prom
  sb systemctl stop agenthost.service
  check "agenthost stopped: the link gone, node_textfile_scrape_error 0" \
    eval '! sb test -L $dir/agenthost.prom && nx_served no'
  sb systemctl start agenthost.service
  within 10 nx_served yes
  check "agenthost started: served again" nx_served yes
  local down='^agenthost_port_link_up{interface="Management1",port="1"} 0$'
  sb agentctl sim link 1 down >/dev/null
  within 10 eval 'sb curl -sf $nx | grep -q "$down"'
  check "a link change comes through node_exporter" eval 'sb curl -sf $nx | grep -q "$down" && nx_served yes'
  sb agentctl sim link 1 up >/dev/null
}
node_exporter_textfile

# Records and IPv6 under the shipped unit, a block of their own: /metrics on
# the IPv6 loopback (the example of agenthost(8)), a record in the service's
# private /var/tmp refused, and a record made with agentctl under a
# relative name kept in the state directory, whole, across a restart.
records_and_ipv6() {
  local dropin=/etc/systemd/system/agenthost.service.d/zz-records.conf
  local v6url='http://[::1]:9536/metrics' rec=/var/lib/agenthost/field.jsonl
  local ctl='sb agentctl --socket /run/agenthost/control.sock'
  sb mkdir -p /etc/systemd/system/agenthost.service.d
  sb sh -c "printf '[Service]\nEnvironment=\"AGENTHOST_OPTIONS=--metrics [::1]:9536\"\nIPAddressAllow=localhost\n' >$dropin"
  sb systemctl daemon-reload
  sb systemctl restart agenthost.service
  within 10 eval 'sb curl -sfg "$v6url" | grep -q "^agenthost_error 0"'
  check "--metrics [::1]:9536 served under the unit" \
    eval 'sb curl -sfg "$v6url" | grep -q "^agenthost_error 0" && active agenthost.service'
  check "record start /var/tmp/field.jsonl refused: the service's own /var/tmp" \
    eval "$ctl record start /var/tmp/field.jsonl 2>&1 | grep -q 'removed when it stops'"
  check "record start field.jsonl: in $rec" \
    eval "$ctl record start field.jsonl | grep -q '$rec'"
  sleep 3
  sb systemctl restart agenthost.service
  within 10 active agenthost.service
  local lines=$(sb sh -c "wc -l <$rec" 2>/dev/null)
  check "the record whole after systemctl restart (${lines:-no} lines)" \
    eval "sb head -n 1 $rec | grep -q '\"record\":\"agenthost bus record\"' &&
      sb tail -n 1 $rec | grep -q '\"end\":\"stopped\"' && [ ${lines:-0} -gt 10 ]"
  check "a name taken already is refused, the record kept" \
    eval "! $ctl record start field.jsonl >/dev/null 2>&1 && sb tail -n 1 $rec | grep -q '\"end\"'"
  sb rm -f "$dropin" "$rec"
  sb systemctl daemon-reload
  sb systemctl restart agenthost.service
}
records_and_ipv6

# Journal fields and the status of one interface, a block of their own: a
# link down and up of Management1 go to the journal as entries of their own
# that `journalctl -u agenthost INTERFACE=Management1` finds, with the
# netdevice, the port and the message id of their kind (link down at
# priority warning); `agentctl show status Management1` shows that
# interface's line and its journal lines, which agentctl reads itself.
journal_fields_and_interface_status() {
  local ctl='sb agentctl --socket /run/agenthost/control.sock' t
  # The host may have started with the link down (the chip's reset state):
  # up first, so that the down below is a change the agent publishes.
  $ctl sim link 1 up >/dev/null
  within 10 eval "$ctl show status Management1 | grep -q '^Management1 .* linkUp '"
  t=$(now)
  local lines="sb journalctl -q --no-pager -o cat -u agenthost --since @$t INTERFACE=Management1"
  $ctl sim link 1 down >/dev/null
  within 10 eval "$lines | grep -q 'link status 0 (linkDown)'"
  $ctl sim link 1 up >/dev/null
  within 10 eval "$lines | grep -q 'link status 1 (linkUp)'"
  check "journalctl -u agenthost INTERFACE=Management1: the link's down and up" \
    eval "$lines | grep -q '^status  port 1 link status 0 (linkDown)$' &&
      $lines | grep -q '^status  port 1 link status 1 (linkUp)$'"
  check "the link down's fields: NETDEV, PORT, MESSAGE_ID, PRIORITY 4" \
    eval "sb journalctl -q --no-pager -o export -u agenthost --since @$t \
        MESSAGE_ID=0e01bdf1a8124e1ea31107fb8b490bb2 INTERFACE=Management1 |
      tr -d '\\0' | grep -c -e '^NETDEV=mgmt1$' -e '^PORT=1$' -e '^PRIORITY=4$' | grep -qx 3"
  check "agentctl show status Management1: its line and its journal lines" \
    eval "$ctl show status Management1 | grep -q '^Management1 ' &&
      ! $ctl show status Management1 | grep -q '^Management2 ' &&
      $ctl show status Management1 | grep -q 'agenthost\[[0-9]*\]: status  port 1 link status 1 (linkUp)$'"
  check "agentctl --json show status Management1: journalLines" \
    eval "$ctl --json show status Management1 | grep -q '\"journalLines\"'"
}
journal_fields_and_interface_status

# Restarts: the watchdog after a hang, Restart= after a crash.
restarted() { # restarted LABEL SIGNAL
  local pid=$(mainpid) n=$(prop agenthost.service NRestarts)
  # MainPID 0 (no service) would signal the caller's own process group.
  [ "${pid:-0}" != 0 ] || { fail "$1: no main process to signal"; return 1; }
  sb kill -"$2" "$pid"
  within 20 eval 'p=$(mainpid); [ "$p" != 0 ] && [ "$p" != "$pid" ] && active agenthost.service'
  check "$1: restarted ($pid -> $(mainpid), NRestarts $n -> $(prop agenthost.service NRestarts))" \
    eval '[ "$(mainpid)" != "$pid" ] && active agenthost.service && [ "$(prop agenthost.service NRestarts)" -gt "$n" ]'
}
t=$(now)
restarted "watchdog after kill -STOP" STOP
check "the watchdog timeout in the journal" grep -qi 'watchdog' <(journal "$t")
restarted "kill -SEGV" SEGV

# Stop, then a bad file at start: the unit fails (no restart loop) and the
# journal says why.
sb systemctl stop agenthost.service
check "systemctl stop: clean" \
  test "$(prop agenthost.service ActiveState)/$(prop agenthost.service Result)" = inactive/success
sb cp $conf /tmp/good.yaml
sb sh -c "echo 'bogus: 1' >>$conf"
t=$(now)
sb systemctl start agenthost.service
within 10 eval '[ "$(prop agenthost.service ActiveState)" = failed ]'
n=$(prop agenthost.service NRestarts)
sleep 4
check "a bad file at start: failed, not restarted" \
  test "$(prop agenthost.service ActiveState)/$(prop agenthost.service NRestarts)" = "failed/$n"
check "the bad file's message in the journal" grep -q "appliance.yaml:.*bogus" <(journal "$t")
sb cp /tmp/good.yaml $conf
sb systemctl reset-failed agenthost.service
sb systemctl start agenthost.service

# Upgrade to a higher version of the same package: the service restarts on
# the new binary, the edited conffile is kept, no daemon-reload is owed.
sb sh -c "echo '# edited' >>$conf"
sb cp $conf /tmp/edited.yaml
pid=$(mainpid)
version=$(sb dpkg-deb -f "$deb" Version)
sb sh -c "rm -rf /tmp/up && dpkg-deb -R '$deb' /tmp/up &&
  sed -i 's/^Version: .*/Version: $version+1/' /tmp/up/DEBIAN/control &&
  dpkg-deb -b /tmp/up /tmp/up.deb >/dev/null"
check "upgrade to $version+1" logged "$scratch/upgrade.log" sb dpkg -i /tmp/up.deb
within 10 active agenthost.service
newpid=$(mainpid)
check "restarted on the new binary ($pid -> $newpid, $(sb readlink /proc/$newpid/exe))" \
  eval '[ "$newpid" != "$pid" ] && [ "$(sb readlink /proc/$newpid/exe)" = /usr/bin/agenthost ]'
check "no daemon-reload owed" test "$(prop agenthost.service NeedDaemonReload)" = no
check "the edited conffile kept" sb cmp -s $conf /tmp/edited.yaml

# The long poll period: three cycles, the same process all along.
wait_until=$((slow_set + 3 * SLOW_POLL_PERIOD + 5))
[ "$(date +%s)" -ge "$wait_until" ] || sleep $((wait_until - $(date +%s)))
cycles=$(metric $slowurl agenthost_poll_cycles_completed_total)
check "pollPeriod $SLOW_POLL_PERIOD: running through $((${cycles:-0} - ${slow_cycles:-0})) cycles" \
  eval '[ "$(prop agenthost-slow.service MainPID)" = "$slow_pid" ] &&
    [ "$(prop agenthost-slow.service NRestarts)" = 0 ] && [ "${cycles:-0}" -ge $((slow_cycles + 3)) ]'
sb systemctl stop agenthost-slow.service
sb rm /etc/systemd/system/agenthost-slow.service
sb rm -r /etc/systemd/system/agenthost.service.d /run/systemd/system/agenthost.service.d
sb systemctl daemon-reload

# Remove, then purge: nothing is left.
agenthosts() { sb sh -c 'for p in /proc/[0-9]*; do readlink $p/exe; done 2>/dev/null | grep agenthost'; }
pid=$(mainpid)
check "dpkg -r" logged "$scratch/remove.log" sb dpkg -r bcm53134-agent
check "dpkg -r stops it" eval '! sb kill -0 "$pid" 2>/dev/null && ! agenthosts'
check "dpkg -P" logged "$scratch/purge.log" sb dpkg -P bcm53134-agent
sb systemctl daemon-reload
check "dpkg -P leaves nothing" eval '! agenthosts &&
  [ -z "$(sb systemctl list-unit-files --no-legend agenthost.service)" ] &&
  ! sb sh -c "ls -d /etc/agenthost /etc/systemd/system/*/agenthost.service \
    /lib/systemd/system/agenthost.service /var/lib/systemd/deb-systemd-helper-enabled/agenthost.service \
    /var/lib/systemd/deb-systemd-helper-enabled/*/agenthost.service \
    /var/lib/agenthost /var/lib/private/agenthost 2>/dev/null" | grep -q .'

trap - EXIT
sandbox_end || fail "the sandbox left something behind"
[ $failed = 0 ] || { echo "systemd's console:"; tail -20 "$scratch/console.log"; }
echo "service test: $(($(date +%s) - start)) s"
exit $failed
