#!/bin/sh
# Runs a command in network, PID and mount namespaces of its own: a private
# loopback for the helper's fixed ports, and a process list that holds only
# the command's own processes.
#
# A user who is not root gets them inside a user namespace of the command's
# own, where that user is root: the same cases then run for a developer as
# for CI. Root keeps its real identity, which the cases that act as another
# user need.
user_namespace=
[ "$(id -u)" -eq 0 ] || user_namespace="--user --map-root-user"
# shellcheck disable=SC2086 # the options are separate words on purpose
exec unshare $user_namespace --net --pid --mount --fork --mount-proc -- \
  sh -c 'ip link set lo up && exec "$@"' isolated "$@"
