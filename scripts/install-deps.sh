#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkgconf
  libglib2.0-dev libplist-dev
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins fonts-dejavu-core
  iproute2 util-linux netcat-openbsd
  psmisc lsof bindfs sshfs openssh-sftp-server libmount-dev
  desktop-file-utils
  dpkg-dev file lintian appstream x11-utils
  dbus-daemon python3-dbusmock
  libxcb1-dev libxcb-ewmh-dev xvfb openbox metacity
  gvfs-daemons gvfs-backends gvfs-fuse python3-pyftpdlib samba lighttpd lighttpd-mod-webdav
  clang-14 libclang-rt-14-dev clang-format
  libcurl4-openssl-dev libpugixml-dev libsodium-dev libarchive-dev python3
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  # A minimal Debian has no sudo; say what is missing rather than fail on it.
  if ! command -v sudo >/dev/null; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "  su -c 'apt-get update && apt-get install --no-install-recommends ${missing[*]}'" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
