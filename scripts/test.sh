#!/usr/bin/env bash
# Sets up the machine, checks the code's format, builds and runs every
# test under each preset named (by default all three: plain, ASan+UBSan,
# ThreadSanitizer), builds and
# checks the Debian package from the plain build, then runs each fuzz target
# for a few seconds (FUZZ_SECONDS, 0 to skip).
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(default asan tsan)

scripts/install-deps.sh test
echo "== format"
scripts/check-format.sh
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)" --no-tests=error
done

if [[ " ${presets[*]} " == *" default "* ]]; then
  echo "== package"
  scripts/package.sh
fi

fuzz_seconds=${FUZZ_SECONDS:-4}
if [[ $fuzz_seconds -gt 0 ]]; then
  echo "== fuzz"
  scripts/fuzz.sh "$fuzz_seconds"
fi
