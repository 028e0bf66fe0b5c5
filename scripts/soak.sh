#!/usr/bin/env bash
# Soaks one helper (the ASan+UBSan build) for MINUTES (3 unless given) under
# everything a desktop puts it through at once, in namespaces of its own, and
# prints the summary; fails when any answer was wrong or late, the helper
# crashed, held on to descriptors or threads, grew, or lost a log line.
#
#   scripts/soak.sh 60     # the hour-long run
#
# As root, another user's connection storm is part of it; a user who is not
# root soaks without (there is no other user to become).
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-3}
preset=${SOAK_PRESET:-asan}
scripts/install-deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target soak ferrowind_helper file_holder ferrowind_sign_update
exec tests/integration/isolated.sh "build/$preset/soak/soak" "$minutes"
