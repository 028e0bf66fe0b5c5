#!/usr/bin/env bash
# Builds the Debian package of the installer from the default preset's build
# (which carries Debian's hardening flags) and checks it: lintian,
# desktop-file-validate, appstreamcli, and the unpacked installer started on
# a virtual display until its window is up.
#
#   scripts/package.sh        -> build/default/package/ferrowind-helper-installer_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake --preset default >/dev/null
cmake --build --preset default --target ferrowind_installer ferrowind_ask package_files
rm -rf build/default/package
(cd build/default && cpack -G DEB >/dev/null)
deb=$(ls build/default/package/*.deb)
echo "package: $deb"
scripts/check-package.sh "$deb"
