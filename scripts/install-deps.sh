#!/usr/bin/env bash
# Installs the Debian packages one purpose needs:
#
#   scripts/install-deps.sh run    build the helper and its installer, and run them
#   scripts/install-deps.sh test   that, and what the tests, the package check,
#                                  the fuzzers and the benchmarks need
#
# Safe to run again: it only installs what is missing. The servers the tests
# start (each in namespaces of its own) are installed without being started,
# and on a systemd machine they are left disabled, so the machine serves
# nothing it did not serve before.
set -euo pipefail

purpose=${1:-test}

run_packages=(
  g++ cmake ninja-build pkgconf
  libglib2.0-dev libplist-dev libxcb1-dev libxcb-ewmh-dev libxcb-res0-dev libjson-glib-dev
  libcurl4-openssl-dev libpugixml-dev libsodium-dev libarchive-dev
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins fonts-dejavu-core
  # run-helper.sh looks for a running helper and for the port it took; the
  # README's examples talk to it with nc.
  procps iproute2 netcat-openbsd
)
test_packages=(
  libgtest-dev libgmock-dev python3
  util-linux psmisc lsof bindfs sshfs openssh-sftp-server
  desktop-file-utils x11-utils xvfb openbox metacity
  dbus-daemon python3-dbusmock
  systemd systemd-container libpam-systemd dbus-user-session
  flatpak xdg-desktop-portal busybox-static bubblewrap
  sway foot xwayland kwin-wayland qt6-wayland gnome-shell
  gvfs-daemons gvfs-backends gvfs-fuse python3-pyftpdlib
  dpkg-dev file lintian appstream
  # The release's own clang, whichever version it ships, for the fuzz
  # targets (libFuzzer and the sanitizers' runtimes); git lists the files
  # the format check reads.
  clang libclang-rt-dev libmount-dev clang-format git
)
# Packages that bring a system service along: the tests start their own.
test_servers=(samba lighttpd lighttpd-mod-webdav)

# Debian 13 moved Qt's SVG plugins (the installer's icon) out of libqt6svg6;
# testing and unstable name no VERSION_ID.
version_id=$(. /etc/os-release && echo "${VERSION_ID:-}")
if [[ -z $version_id || ${version_id%%.*} -ge 13 ]]; then
  run_packages+=(qt6-svg-plugins)
fi

case $purpose in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}" "${test_servers[@]}") ;;
*)
  echo "usage: $0 run|test" >&2
  exit 2
  ;;
esac

installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == "install ok installed" ]]
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

# Without root: through sudo, or else say what to ask for. Run as root, this
# script installs the servers without starting them; a bare apt-get would not.
ask_root() {
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "$1" >&2
  echo "  $2 $(realpath "$0") $purpose" >&2
  echo "(or install those packages with apt-get install --no-install-recommends), then run this again." >&2
  exit 1
}
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  # A minimal Debian has no sudo.
  command -v sudo >/dev/null || ask_root "Install them as root:" "su -c"
  echo "Installing needs root (sudo): ${missing[*]}"
  sudo -v || ask_root "sudo refused; ask an administrator to run:" "sudo"
  as_root=(sudo)
fi

# A policy-rc.d that answers 101 keeps maintainer scripts from starting
# services; one the machine has already (a container's) stays as it is.
policy=/usr/sbin/policy-rc.d
if [[ ! -e $policy ]]; then
  trap '"${as_root[@]}" rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# Installing test servers: start nothing.\nexit 101\n' |
    "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod 755 "$policy"
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Installing a service enables it for the next boot: undo that for the
# servers installed now (one the machine had before keeps its state).
for server in "${test_servers[@]}"; do
  [[ " ${missing[*]} " == *" $server "* ]] || continue
  if [[ -d /run/systemd/system ]]; then
    units=$(dpkg-query -L "$server" | sed -n 's|^/\(usr/\)\?lib/systemd/system/\([^@/]*\.\(service\|socket\)\)$|\2|p')
    # shellcheck disable=SC2086 # one word per unit
    [[ -z $units ]] || "${as_root[@]}" systemctl disable --now --quiet $units ||
      echo "Could not disable $units: the test servers may start at boot" >&2
  elif command -v update-rc.d >/dev/null; then
    for script in $(dpkg-query -L "$server" | sed -n 's|^/etc/init\.d/||p'); do
      "${as_root[@]}" update-rc.d "$script" disable >/dev/null 2>&1 || true
    done
  fi
done
