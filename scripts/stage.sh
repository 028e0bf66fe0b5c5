# shellcheck shell=bash
# Sourced by the test command, the Debian run and CI: `stage NAME COMMAND...`
# runs COMMAND as one named stage of the run and then says how long it took,
# failed or not, so that a run that grows slow shows where its time went.
# COMMAND is a program, or a function that returns its own failure: a
# function's body does not stop at a failing command when its status is
# tested, as it is here.
stage() {
  local name=$1 start=$SECONDS status=0
  shift
  echo "== $name"
  "$@" || status=$?
  echo "== stage $name took $((SECONDS - start)) s$([[ $status -eq 0 ]] || echo ", failed with status $status")"
  return "$status"
}
