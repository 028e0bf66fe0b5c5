#!/usr/bin/env bash
# Sets up the machine, builds the installer bundle (which carries the helper)
# and opens its window. Needs a desktop session (DISPLAY or WAYLAND_DISPLAY).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target ferrowind_installer

exec "build/default/Ferrowind Helper Installer.app/Contents/MacOS/Ferrowind Helper Installer"
