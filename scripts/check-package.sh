#!/usr/bin/env bash
# Checks a built Debian package of the installer: lintian with no errors or
# warnings, a valid desktop entry and metainfo, and the unpacked installer
# starting on a virtual display with its window as the desktop expects it.
set -euo pipefail

deb=$(realpath "$1")
scratch=$(mktemp -d)
display_pid=
installer_pid=
# Each program is waited for, so nothing still writes into the scratch
# folder as it goes.
cleanup() {
  for pid in $installer_pid $display_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

# Lintian leaves files in its temporary folder; this one goes with the rest.
mkdir "$scratch/tmp"
echo "== lintian"
TMPDIR="$scratch/tmp" lintian --fail-on error,warning --info "$deb"

dpkg-deb -x "$deb" "$scratch/root"
desktop_entry=$(ls "$scratch"/root/usr/share/applications/*.desktop)
app_id=$(basename "$desktop_entry" .desktop)
echo "== desktop-file-validate"
desktop-file-validate "$desktop_entry"
echo "== appstreamcli validate"
appstreamcli validate --no-net --explain "$scratch/root/usr/share/metainfo/$app_id.metainfo.xml"

echo "== start"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
display_pid=$!
for _ in $(seq 100); do [[ -s $scratch/display ]] && break; sleep 0.1; done
display=:$(cat "$scratch/display")
# A home of its own, whose runtime folder is the user's alone (Qt falls back
# to /tmp/runtime-<user> otherwise), and a session bus nobody serves: with
# none named, a program on a display starts one that outlives the check.
mkdir -p "$scratch/home"
mkdir -m 700 "$scratch/runtime"
HOME="$scratch/home" XDG_DATA_HOME='' XDG_CONFIG_HOME='' XDG_CACHE_HOME='' XDG_RUNTIME_DIR="$scratch/runtime" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/runtime/bus" DISPLAY=$display QT_QPA_PLATFORM=xcb \
  "$scratch/root/usr/bin/ferrowind-helper-installer" &
installer_pid=$!

window=
for _ in $(seq 100); do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null \
             | sed -n 's/^ *\(0x[0-9a-f]*\) "Ferrowind Helper Installer": ("[^"]*" .*/\1/p' | head -n1)
  [[ -z $window ]] || break
  kill -0 "$installer_pid" 2>/dev/null || { echo "the installer ended before its window came up" >&2; exit 1; }
  sleep 0.1
done
[[ -n $window ]] || { echo "no installer window came up" >&2; exit 1; }
sleep 1
properties=$(DISPLAY=$display xprop -id "$window" WM_CLASS _NET_WM_ICON WM_NORMAL_HINTS | cut -c1-120)
grep -E 'WM_CLASS|_NET_WM_ICON|size:' <<<"$properties"
expect() {
  grep -q "$1" <<<"$properties" || { echo "window: expected $2" >&2; exit 1; }
}
expect "WM_CLASS(STRING) = \".*\", \"$app_id\"" "a WM_CLASS matching the desktop entry"
expect "_NET_WM_ICON(CARDINAL) = " "a window icon"
expect "program specified minimum size: 500 by" "a fixed size"
min=$(sed -n 's/.*minimum size: \(.*\)/\1/p' <<<"$properties")
max=$(sed -n 's/.*maximum size: \(.*\)/\1/p' <<<"$properties")
[[ "$min" == "$max" ]] || { echo "window: resizable ($min to $max)" >&2; exit 1; }
echo "package: checks passed"
