#!/usr/bin/env bash
# Sets up the machine, builds the helper bundle (and ferrowind-ask, to try it
# with) and runs it in the foreground (its log goes to the terminal; Ctrl-C
# ends it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target ferrowind_helper ferrowind_ask

executable="Ferrowind Helper.app/Contents/MacOS/Ferrowind Helper"

# The helper serves one instance per user and ends at once, without a word,
# when it finds another; say so here instead.
if running=$(pgrep -u "$(id -u)" -f "$executable"); then
  echo "Ferrowind Helper already runs for $(id -un) (process ${running//$'\n'/, }); that one keeps serving." >&2
  exit 0
fi

# The port is known only once the helper has bound it. After the exec below
# this shell's process id is the helper's. The watcher is started through a
# subshell that ends at once, so it is not the helper's child: the helper
# never reaps children it did not start, and would keep it as a zombie.
helper=$$
( (
  for _ in $(seq 100); do
    kill -0 "$helper" 2>/dev/null || exit 0
    port=$(ss -Hltnp 'sport >= :9483 and sport <= :9488' 2>/dev/null |
      sed -n "/pid=$helper,/s/.*127\.0\.0\.1:\([0-9]*\).*/\1/p" | head -n1)
    if [[ -n $port ]]; then
      echo "Ferrowind Helper: listening on 127.0.0.1:$port. Ctrl-C ends it."
      exit 0
    fi
    sleep 0.1
  done
) & )
exec "build/default/$executable"
