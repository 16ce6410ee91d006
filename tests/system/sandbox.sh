#!/bin/bash
# A sandbox that boots systemd as PID 1 and cannot touch the machine it runs
# on: private pid, mount, network, UTS, IPC and cgroup namespaces; the root
# an overlay of this machine's root whose upper layer is a tmpfs (every write,
# dpkg's included, lands there and goes with the sandbox); fresh tmpfs on
# /run, /tmp and /dev (a handful of device nodes, no disk); /sys and
# /proc/sys read-only; a cgroup2 hierarchy rooted in a child cgroup of its
# own; and a unit set of its own: a default target that reaches basic.target
# and nothing else, every generator masked, the machine's enablements gone
# and every unit file masked but the journal and shutdown (so nothing of the
# machine's, database servers, cron, timers, getty, udev, sysctl, time sync,
# can start, even when asked for).
#
# Sourced by the test. sandbox_boot DIR boots it with DIR (empty, on this
# machine) as its scratch; sb CMD... runs a command inside; sandbox_end
# powers it off, removes what it made and checks that nothing of it is left.

# The units that may run: the journal, and what powering off takes.
SANDBOX_UNITS="systemd-journald.service systemd-journald.socket systemd-journald-dev-log.socket
systemd-poweroff.service systemd-halt.service systemd-exit.service"

# Runs as PID 1 of the new namespaces, before systemd: builds the root and
# execs systemd in it. $1 is the scratch directory.
sandbox_init() {
  set -eu
  local w=$1 m=$1/mnt r=$1/mnt/root
  mount --make-rprivate /
  mount -t tmpfs -o mode=0755,size=1g sandbox "$m"
  mkdir "$m/upper" "$m/work" "$r"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$m/upper,workdir=$m/work" "$r"
  mount -t proc -o nosuid,nodev,noexec proc "$r/proc"
  for p in sys sysrq-trigger; do
    [ -e "$r/proc/$p" ] || continue
    mount --bind "$r/proc/$p" "$r/proc/$p"
    mount -o remount,bind,ro "$r/proc/$p"
  done
  mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$r/sys"
  mount -t cgroup2 -o nosuid,nodev,noexec cgroup2 "$r/sys/fs/cgroup"
  mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs "$r/run"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$r/tmp"
  mount -t tmpfs -o mode=0755,nosuid,size=1m tmpfs "$r/dev"
  mknod -m 666 "$r/dev/null" c 1 3
  mknod -m 666 "$r/dev/zero" c 1 5
  mknod -m 666 "$r/dev/full" c 1 7
  mknod -m 666 "$r/dev/random" c 1 8
  mknod -m 666 "$r/dev/urandom" c 1 9
  mknod -m 666 "$r/dev/tty" c 5 0
  mkdir "$r/dev/pts" "$r/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$r/dev/pts"
  ln -s pts/ptmx "$r/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$r/dev/shm"
  # systemd's console output goes to a file of the test.
  touch "$r/dev/console"
  mount --bind "$w/console" "$r/dev/console"

  # The unit set. Everything below is written into the overlay's upper layer.
  local etc=$r/etc/systemd/system dir f name
  rm -rf "$etc"/*.wants "$etc"/*.requires "$etc"/*.service "$etc"/*.target "$etc"/*.timer
  mkdir -p "$r/etc/systemd/system-generators"
  for dir in /usr/lib/systemd/system-generators /etc/systemd/system-generators \
             /usr/local/lib/systemd/system-generators; do
    for f in "$r$dir"/*; do
      [ -e "$f" ] && ln -sf /dev/null "$r/etc/systemd/system-generators/${f##*/}"
    done
  done
  for dir in /usr/lib/systemd/system /etc/systemd/system /usr/local/lib/systemd/system; do
    for f in "$r$dir"/*; do
      name=${f##*/}
      case $name in *.service|*.socket|*.timer|*.path|*.mount|*.automount|*.swap) ;; *) continue ;; esac
      case " $(echo $SANDBOX_UNITS) " in *" $name "*) continue ;; esac
      ln -sf /dev/null "$etc/$name"
    done
  done
  cat >"$etc/sandbox.target" <<'EOF'
[Unit]
Description=Service test sandbox
Requires=basic.target
After=basic.target
AllowIsolate=yes
EOF
  ln -sf sandbox.target "$etc/default.target"
  : >"$r/etc/fstab"
  # A machine built as a container image may forbid maintainer scripts to
  # start or stop services; an appliance does not.
  rm -f "$r/usr/sbin/policy-rc.d"
  echo agenthost-sandbox >"$r/etc/hostname"

  cd "$r"
  mkdir oldroot
  pivot_root . oldroot
  umount -l /oldroot
  rmdir /oldroot
  # SANDBOX_DRY_RUN=1: show the sandbox's mounts and unit set instead.
  if [ "${SANDBOX_DRY_RUN:-0}" = 1 ]; then
    exec sh -c 'cat /proc/self/mountinfo; ls -l /etc/systemd/system /etc/systemd/system-generators'
  fi
  exec env -i container=agenthost-sandbox PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    /lib/systemd/systemd --log-target=console </dev/null >/dev/console 2>&1
}

# Whether this machine lets us build the sandbox; prints why not.
sandbox_unavailable() {
  [ "$(id -u)" = 0 ] || { echo "not root"; return 0; }
  [ -x /lib/systemd/systemd ] || { echo "no systemd"; return 0; }
  grep -qw overlay /proc/filesystems || { echo "no overlay file system"; return 0; }
  [ -n "$(sandbox_cgroup2)" ] || { echo "no cgroup2 hierarchy"; return 0; }
  unshare --pid --fork --mount --net --uts --ipc --cgroup true 2>/dev/null ||
    { echo "cannot make pid, mount, network, UTS, IPC and cgroup namespaces"; return 0; }
  return 1
}

sandbox_cgroup2() {
  awk '$3 == "cgroup2" { print $2; exit }' /proc/self/mounts
}

# Builds the sandbox once without booting it (SANDBOX_DRY_RUN) and checks
# its mounts: the root an overlay, /run, /tmp and /dev tmpfs, /sys and
# /proc/sys read-only, cgroup2 on /sys/fs/cgroup, nothing else of this
# machine's mounted.
sandbox_check_dry() {
  local out=$SB_DIR/dry.out
  (
    echo "$BASHPID" >"$SB_CGROUP/cgroup.procs"
    SANDBOX_DRY_RUN=1 exec unshare --pid --fork --mount --net --uts --ipc --cgroup \
      --propagation private bash -c ". '$SANDBOX_SH'; sandbox_init '$SB_DIR'"
  ) >"$out" 2>&1 || { cat "$out" >&2; return 1; }
  local mounts
  mounts=$(awk '$1 ~ /^[0-9]+$/ && $2 ~ /^[0-9]+$/ {
      for (i = 7; $i != "-"; i++) ;
      print $5, ($6 ~ /(^|,)ro(,|$)/ ? "ro" : "rw"), $(i + 1) }' "$out" | sort)
  local want
  want=$(printf '%s\n' "/ rw overlay" "/dev rw tmpfs" "/dev/console rw ext4" "/dev/pts rw devpts" \
    "/dev/shm rw tmpfs" "/proc rw proc" "/proc/sys ro proc" "/run rw tmpfs" "/sys ro sysfs" \
    "/sys/fs/cgroup rw cgroup2" "/tmp rw tmpfs" | sort)
  # The console is a file of the test; its file system is whatever holds it.
  mounts=$(sed 's|^/dev/console rw .*|/dev/console rw ext4|' <<<"$mounts")
  [ "$mounts" = "$want" ] || {
    echo "the sandbox's mounts are not as built:" >&2
    diff <(echo "$want") <(echo "$mounts") >&2
    return 1
  }
  grep -q 'default.target -> sandbox.target' "$out" || { echo "no default target of its own" >&2; return 1; }
  rm -f "$out"
}

sandbox_boot() {
  SB_DIR=$1
  mkdir -p "$SB_DIR/mnt"
  : >"$SB_DIR/console"
  SB_CGROUP=$(sandbox_cgroup2)/agenthost-sandbox-$$
  mkdir "$SB_CGROUP"
  sandbox_check_dry || return 1
  (
    echo "$BASHPID" >"$SB_CGROUP/cgroup.procs"
    exec unshare --pid --fork --mount --net --uts --ipc --cgroup --propagation private \
      bash -c ". '$SANDBOX_SH'; sandbox_init '$SB_DIR'"
  ) &
  SB_UNSHARE=$!
  SB_PID=
  local i
  for i in $(seq 100); do
    SB_PID=$(cat "/proc/$SB_UNSHARE/task/$SB_UNSHARE/children" 2>/dev/null | awk '{print $1}')
    [ -n "$SB_PID" ] && [ "$(readlink "/proc/$SB_PID/exe" 2>/dev/null)" = /usr/lib/systemd/systemd ] &&
      break
    kill -0 "$SB_UNSHARE" 2>/dev/null || break
    sleep 0.1
  done
  [ "$(readlink "/proc/$SB_PID/exe" 2>/dev/null)" = /usr/lib/systemd/systemd ] || {
    echo "the sandbox did not start systemd:" >&2
    cat "$SB_DIR/console" >&2
    return 1
  }
  # The namespaces, to check at the end that nothing holds them.
  SB_NS=$(for n in mnt net pid uts ipc cgroup; do readlink "/proc/$SB_PID/ns/$n"; done)
  for n in mnt net pid uts ipc cgroup; do
    [ "$(readlink "/proc/$SB_PID/ns/$n")" != "$(readlink "/proc/self/ns/$n")" ] ||
      { echo "the sandbox shares this machine's $n namespace" >&2; return 1; }
  done
  # Until the manager answers on its private socket, systemctl says
  # "offline" (or nothing), and --wait gives up at once rather than wait:
  # ask again until the boot has ended one way or the other.
  local state
  for i in $(seq 600); do
    state=$(sb systemctl is-system-running 2>/dev/null || true)
    case $state in "" | offline | initializing | starting) sleep 0.1 ;; *) break ;; esac
  done
  [ "$state" = running ] || {
    echo "the sandbox's systemd is $state:" >&2
    sb systemctl --failed --no-pager >&2 || true
    return 1
  }
}

sb() {
  nsenter --target "$SB_PID" --mount --uts --ipc --net --pid --cgroup --root --wd -- "$@"
}

# Powers the sandbox off (killing it when that does not work in time),
# removes its cgroup and scratch, and fails when any of it is left: a
# process, a mount or a namespace of it, its cgroup or its files.
sandbox_end() {
  local left=0 i
  [ -n "${SB_UNSHARE:-}" ] || return 0
  if kill -0 "$SB_UNSHARE" 2>/dev/null; then
    [ -n "${SB_PID:-}" ] && kill -RTMIN+4 "$SB_PID" 2>/dev/null
    for i in $(seq 150); do
      kill -0 "$SB_UNSHARE" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$SB_UNSHARE" 2>/dev/null; then
      echo "the sandbox did not power off; killed" >&2
      kill -KILL "$SB_PID" 2>/dev/null
      left=1
    fi
  fi
  wait "$SB_UNSHARE" 2>/dev/null
  SB_UNSHARE=
  if [ -d "$SB_CGROUP" ]; then
    [ -z "$(find "$SB_CGROUP" -name cgroup.procs -exec cat {} + 2>/dev/null)" ] ||
      { echo "processes left in $SB_CGROUP" >&2; left=1; }
    find "$SB_CGROUP" -depth -type d -exec rmdir {} + 2>/dev/null
    [ ! -d "$SB_CGROUP" ] || { echo "cgroup $SB_CGROUP left" >&2; left=1; }
  fi
  if grep -qF "$SB_DIR" /proc/self/mountinfo; then
    echo "mounts left under $SB_DIR" >&2
    left=1
  fi
  local ns held
  held=$(find /proc/[0-9]*/ns -maxdepth 1 -type l -printf '%l\n' 2>/dev/null | sort -u)
  for ns in $SB_NS; do
    if grep -qxF "$ns" <<<"$held"; then
      echo "namespace $ns still held" >&2
      left=1
    fi
  done
  cp "$SB_DIR/console" "$SB_DIR/../console.log" 2>/dev/null
  rm -rf "$SB_DIR"
  [ ! -e "$SB_DIR" ] || { echo "$SB_DIR left" >&2; left=1; }
  return $left
}

# What the tests that boot the sandbox share. sandbox_require exits 77
# (skipped) when the sandbox cannot be made here, or fails when
# REQUIRE_NETNS_TESTS=1 forbids that skip; sandbox_start SCRATCH boots it
# with SCRATCH (made empty) for its files and powers it off at exit,
# however the test ends; check prints ok or FAILED and remembers a failure
# in $failed; within polls a condition for a bounded time; the rest ask the
# sandbox's service manager and journal.
sandbox_require() {
  local why
  why=$(sandbox_unavailable) || return 0
  if [ "${REQUIRE_NETNS_TESTS:-0}" = 1 ]; then
    echo "FAILED: the service-manager sandbox cannot be made here: $why" >&2
    exit 1
  fi
  echo "skipped: $why"
  exit 77
}

sandbox_start() {
  rm -rf "$1"
  mkdir -p "$1"
  trap 'sandbox_end || echo "FAILED: the sandbox left something behind"' EXIT
  trap 'exit 1' INT TERM
  sandbox_boot "$1/sandbox" || { echo "FAILED: the sandbox did not boot" >&2; exit 1; }
  ok "systemd $(sb systemctl --version | awk 'NR == 1 { print $2 }') booted in the sandbox"
}

failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failed=1; }
check() { # check NAME COMMAND...: ok when the command succeeds
  local name=$1
  shift
  if "$@"; then ok "$name"; else fail "$name"; return 1; fi
}
logged() { # logged LOG COMMAND...: the command's output to LOG, shown when it fails
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
}
# Polls a condition for up to $1 seconds.
within() {
  local limit=$1 i
  shift
  for i in $(seq $((limit * 5))); do
    "$@" && return 0
    sleep 0.2
  done
  "$@"
}

prop() { sb systemctl show -P "$2" "$1" 2>/dev/null; }
active() { [ "$(sb systemctl is-active "$1" 2>/dev/null)" = active ]; }
journal() { sb journalctl -q --no-pager -o cat -u "${2:-agenthost.service}" --since "@$1"; }
now() { sb date +%s.%N; }
