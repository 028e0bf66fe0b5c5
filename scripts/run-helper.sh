#!/usr/bin/env bash
# Sets up the machine, builds the helper bundle and runs it in the foreground
# (its log goes to the terminal; Ctrl-C ends it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ferrowind_helper

echo "Ferrowind Helper: listening on 127.0.0.1, first free port of 9483..9488. Ctrl-C ends it."
exec "build/default/Ferrowind Helper.app/Contents/MacOS/Ferrowind Helper"
