#!/bin/sh
# Runs a command in network, PID and mount namespaces of its own: a private
# loopback for the helper's fixed ports, and a process list that holds only
# the command's own processes.
exec unshare --net --pid --mount --fork --mount-proc -- \
  sh -c 'ip link set lo up && exec "$@"' isolated "$@"
