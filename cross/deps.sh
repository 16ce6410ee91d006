#!/usr/bin/env bash
# The cross toolchain, user-mode emulation and the arm64 build dependencies,
# installed next to the amd64 ones through Debian's multiarch.
#
# Two -dev packages cannot be installed for both architectures at once:
# libyaml-cpp-dev is not Multi-Arch: same, and prometheus-cpp-dev depends on
# the civetweb program, which is not Multi-Arch: foreign. Their arm64 runtime
# libraries are installed as usual; the arm64 -dev packages (with the runtime
# libraries they link against) are unpacked into DEV_DIR instead, which the
# toolchain file and the package build search first.
#
# qemu-user comes without qemu-user-binfmt: registering interpreters with
# binfmt_misc would change how the whole machine runs foreign binaries. The
# emulator is called by name (CMAKE_CROSSCOMPILING_EMULATOR).
set -euo pipefail
DEV_DIR=${1:?usage: deps.sh DEV_DIR}

PACKAGES=(crossbuild-essential-arm64 qemu-user ccache libc6:arm64
  libnl-3-dev:arm64 libnl-route-3-dev:arm64 libmnl-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
  libsystemd-dev:arm64 pkg-config:arm64
  libyaml-cpp0.7:arm64
  libprometheus-cpp-core1.0:arm64 libprometheus-cpp-pull1.0:arm64
  libprometheus-cpp-push1.0:arm64 libcivetweb-dev:arm64 libcurl4-openssl-dev:arm64
  zlib1g-dev:arm64)
UNPACKED=(libyaml-cpp-dev libyaml-cpp0.7 prometheus-cpp-dev libprometheus-cpp-core1.0
  libprometheus-cpp-pull1.0 libprometheus-cpp-push1.0)

installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q 'install ok installed'
}

need_update=0
dpkg --print-foreign-architectures | grep -qx arm64 || need_update=1
missing=()
for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
stamp="$DEV_DIR/.unpacked"
if [ $need_update = 0 ] && [ ${#missing[@]} = 0 ] && [ -f "$stamp" ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "the arm64 cross build needs packages; run as root: $0 $DEV_DIR" >&2
  exit 1
fi
if [ $need_update = 1 ]; then
  dpkg --add-architecture arm64
fi
apt-get update -qq
if [ ${#missing[@]} != 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

rm -rf "$DEV_DIR"
mkdir -p "$DEV_DIR/debs"
(cd "$DEV_DIR/debs" && apt-get download -qq -o APT::Sandbox::User=root "${UNPACKED[@]/%/:arm64}")
for deb in "$DEV_DIR"/debs/*.deb; do dpkg-deb -x "$deb" "$DEV_DIR"; done
# pkg-config files name /usr as their prefix; point them at the unpacked tree.
sed -i "s|^prefix=/usr\$|prefix=$(realpath "$DEV_DIR")/usr|" \
  "$DEV_DIR"/usr/lib/aarch64-linux-gnu/pkgconfig/*.pc
touch "$stamp"
