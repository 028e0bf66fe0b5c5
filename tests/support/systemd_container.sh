#!/bin/sh
# Boots systemd as PID 1 of a container whose root is this machine's own,
# seen through an overlay that keeps every change in memory: the programs
# installed here and the build tree are there as they are, and nothing the
# container does reaches this machine's files. Ends when the container
# powers off; SIGTERM powers it off.
#
#   systemd_container.sh NAME [ARGUMENT FOR SYSTEMD...]
#
# The container has a loopback of its own only. Needs root and
# systemd-nspawn.
set -eu
name=$1
shift

# nspawn refuses / itself as the root; the same tree bound elsewhere, in a
# mount namespace of the container's own, it takes. The folder's name is
# unique on this machine, where process IDs may not be (each test in a PID
# namespace of its own).
root=$(mktemp -d /tmp/ferrowind-container-root-XXXXXX)

# The container gets a cgroup of its own in each hierarchy systemd uses, so
# that two containers booted side by side do not share one.
group=$(basename "$root")
hierarchies=
for hierarchy in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd /sys/fs/cgroup; do
  if [ -w "$hierarchy/cgroup.procs" ]; then
    mkdir "$hierarchy/$group"
    hierarchies="$hierarchies $hierarchy/$group"
  fi
done

# nspawn mounts an empty /tmp of its own: a tree checked out under /tmp is
# bound in at its own path, for the container to find its programs there.
tree=$(cd "$(dirname "$0")/../.." && pwd -P)
case $tree in
/tmp/*) set -- "--bind-ro=$tree" "$@" ;;
esac

# shellcheck disable=SC2016 # expanded by the shell that unshare starts
unshare --mount --propagation private sh -c '
  for group in $1; do echo $$ >"$group/cgroup.procs"; done
  mount --bind / "$2"
  shift 2
  exec "$@"' enter "$hierarchies" "$root" \
  systemd-nspawn --directory="$root" --volatile=overlay --boot --register=no --keep-unit \
  --private-network --machine="$name" --console=read-only "$@" </dev/null &
nspawn=$!
trap 'kill -TERM $nspawn' TERM INT
status=0
wait $nspawn || status=$?
# A trapped signal ends the first wait early.
wait $nspawn 2>/dev/null || true
rmdir "$root"
for group in $hierarchies; do
  find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
done
exit $status
