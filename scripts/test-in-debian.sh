#!/usr/bin/env bash
# Runs the test command on a fresh Debian root of another release, as a
# newcomer on that release would: a minimal root made by debootstrap from
# the Debian mirror this machine's apt uses, this tree copied in (with its
# uncommitted changes), then scripts/test.sh inside it, which installs what
# it needs with scripts/install-deps.sh.
#
#   scripts/test-in-debian.sh trixie                 the plain preset
#   scripts/test-in-debian.sh bookworm default asan  the presets named
#   scripts/test-in-debian.sh --as-user trixie       as a developer would: a
#                                                    normal user with sudo
#
# Needs root (asks sudo otherwise). The root is made anew each run under
# build/debian/<release>/ and left there for a look afterwards; FUZZ_SECONDS
# is passed on, and each stage says how long it took. The root is entered
# with pivot_root in mount and PID namespaces of its own rather than chroot:
# the kernel refuses user namespaces to a chrooted process, and the tests
# that need them would only be skipped. Every process started in it ends
# with the run. The tests run in a network
# namespace of their own, so their helpers never meet this machine's on the
# loopback ports.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh

as_user=()
if [[ ${1:-} == --as-user ]]; then
  as_user=(--as-user)
  shift
fi
if [[ $# -lt 1 || $1 == -* ]]; then
  echo "usage: $0 [--as-user] RELEASE [PRESET...]" >&2
  exit 2
fi
release=$1
shift
presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(default)

if [[ $(id -u) -ne 0 ]]; then
  exec sudo --preserve-env=FUZZ_SECONDS "$(realpath "$0")" "${as_user[@]}" "$release" "${presets[@]}"
fi

command -v debootstrap >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
}

# The mirror this machine installs its own release from; deb.debian.org on
# anything else.
host_codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(apt-get indextargets --format '$(REPO_URI)' "Origin: Debian" "Codename: $host_codename" 2>/dev/null |
  head -n1 || true)
mirror=${mirror:-http://deb.debian.org/debian/}

top=build/debian/$release
root=$PWD/$top/root
source_dir=/srv/ferrowind

make_root() {
  echo "from $mirror"
  # In a mount namespace of its own: the mounts it makes in the new root
  # stay out of sight of whatever runs here meanwhile.
  unshare --mount --propagation private \
    debootstrap --variant=minbase "$release" "$root" "$mirror" >"$top/debootstrap.log" 2>&1 ||
    { tail -n 20 "$top/debootstrap.log"; return 1; }
}

# Tracked and new files as they are in the work tree, in a clone of its own
# (the format check lists files with git). Through sudo, root reads a tree
# it does not own, which git refuses unless told.
copy_tree() {
  local git=(git -c safe.directory='*')
  "${git[@]}" clone --quiet --no-hardlinks --upload-pack="git -c safe.directory='*' upload-pack" "$PWD" "$root$source_dir"
  "${git[@]}" ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -C "$root$source_dir" -xf -
}

# In the new namespaces: the root's own /proc, the machine's /sys and /dev,
# an empty /tmp and /run, then pivot_root into it and the old root let go.
# Any step that fails ends it, before anything runs on this machine's root.
enter='
  set -e
  root=$1; network=$2; shift 2
  mount --rbind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/tmp"
  mount -t tmpfs -o mode=755,nosuid,nodev tmpfs "$root/run"
  cd "$root"
  pivot_root . mnt
  cd /
  umount -l /mnt
  [[ $network == own ]] && ip link set lo up
  exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" FUZZ_SECONDS="${FUZZ_SECONDS:-}" "$@"'
in_root() {
  local network=$1
  shift
  local namespaces=(--mount --pid --fork --kill-child --propagation private)
  [[ $network == own ]] && namespaces+=(--net)
  unshare "${namespaces[@]}" bash -c "$enter" enter "$root" "$network" \
    bash -c 'cd "$0" && "$@"' "$source_dir" "$@"
}

# As a developer: an account of its own that owns the tree and may use
# sudo, as on a desktop its installer set up. The test command then asks
# sudo for what it installs, and runs everything else as that user.
add_developer() {
  in_root shared bash -c '
    set -e
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends sudo >/dev/null
    useradd --create-home --shell /bin/bash developer
    echo "developer ALL=(ALL) NOPASSWD: ALL" >/etc/sudoers.d/developer
    chown -R developer: "$PWD"'
}
developer=()
[[ ${#as_user[@]} -eq 0 ]] || developer=(setpriv --reuid=developer --regid=developer --init-groups
  env HOME=/home/developer USER=developer LOGNAME=developer)

# Installing needs the network; the tests then find everything in place.
# dpkg's thousands of lines go to a log of their own.
install_in_root() {
  echo "log: $top/install-deps.log"
  in_root shared "${developer[@]}" scripts/install-deps.sh test >"$top/install-deps.log" 2>&1 ||
    { tail -n 40 "$top/install-deps.log"; return 1; }
}

# A root left by an earlier run holds nothing mounted (the mounts went with
# their namespace); --one-file-system keeps rm inside it all the same.
rm -rf --one-file-system "$top"
mkdir -p "$top"
stage "debootstrap $release" make_root
# What an installed system has and minbase leaves out (sudo looks the host
# name up).
[[ -e $root/etc/hosts ]] ||
  printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\tlocalhost ip6-localhost ip6-loopback\n' "$(hostname)" >"$root/etc/hosts"
copy_tree
[[ ${#developer[@]} -eq 0 ]] || stage "developer account in $release" add_developer
stage "install-deps in $release" install_in_root
stage "test.sh ${presets[*]} in $release" in_root own "${developer[@]}" scripts/test.sh "${presets[@]}"
