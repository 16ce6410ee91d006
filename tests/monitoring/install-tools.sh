#!/bin/sh
# Debian's prometheus, promtool and prometheus-node-exporter for the
# monitoring tests, taken out of their packages into DIR/bin. Installing
# the packages instead would add a system user, a dozen JavaScript packages
# and two daemons that their maintainer scripts start at once (on ports 9090
# and 9100) where no systemd runs; the tests need the three programs only,
# and these run from anywhere. node_exporter's package itself is kept in
# DIR/debs: the service-manager harness (tests/system) installs it in its
# sandbox, as on an appliance. Does nothing when DIR already holds them
# (DIR/versions says which; remove DIR to take the lists' current ones).
set -eu
[ $# = 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
if [ -f "$dir/versions" ] && [ -x "$dir/bin/prometheus" ] && [ -x "$dir/bin/promtool" ] &&
   [ -x "$dir/bin/prometheus-node-exporter" ] &&
   ls "$dir"/debs/prometheus-node-exporter_*.deb >/dev/null 2>&1; then
  exit 0
fi
packages="prometheus prometheus-node-exporter"
candidates() {
  for p in $packages; do
    apt-cache policy "$p" | awk -v p="$p" '/Candidate:/ {print p "=" $2}'
  done
}
want=$(candidates)
if echo "$want" | grep -q '(none)' && [ "$(id -u)" = 0 ]; then
  apt-get update -qq
  want=$(candidates)
fi
if echo "$want" | grep -q '(none)'; then
  echo "$0: no candidate for $packages in the package lists; run apt-get update" >&2
  exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
# As root apt hands the download to its own user, which cannot write here.
[ "$(id -u)" = 0 ] && sandbox="-o APT::Sandbox::User=root" || sandbox=
# shellcheck disable=SC2086
apt-get download -qq $sandbox $want
for deb in ./*.deb; do
  dpkg -x "$deb" root
done
mkdir -p "$dir/bin"
for program in prometheus promtool prometheus-node-exporter; do
  mv root/usr/bin/$program "$dir/bin/$program"
done
rm -rf "$dir/debs"
mkdir "$dir/debs"
mv ./prometheus-node-exporter_*.deb "$dir/debs/"
echo "$want" >"$dir/versions"
echo "monitoring tools in $dir/bin: $(echo $want)"
