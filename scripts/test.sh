#!/usr/bin/env bash
# Sets up the machine, checks the code's format, builds and runs every
# test under each preset named (by default all three: plain, ASan+UBSan,
# ThreadSanitizer), builds and
# checks the Debian package from the plain build, then runs each fuzz target
# for a few seconds (FUZZ_SECONDS, 0 to skip). Each stage says how long it
# took.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(default asan tsan)

stage install-deps scripts/install-deps.sh test
stage format scripts/check-format.sh
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  stage "$preset build" cmake --build --preset "$preset"
  stage "$preset tests" ctest --preset "$preset" -j "$(nproc)" --no-tests=error
done

if [[ " ${presets[*]} " == *" default "* ]]; then
  stage package scripts/package.sh
fi

fuzz_seconds=${FUZZ_SECONDS:-4}
if [[ $fuzz_seconds -gt 0 ]]; then
  stage fuzz scripts/fuzz.sh "$fuzz_seconds"
fi
