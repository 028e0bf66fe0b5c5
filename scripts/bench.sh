#!/usr/bin/env bash
# Builds the optimised preset and runs the benchmarks, each in namespaces of
# its own so they never meet a helper already running on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake --preset default >/dev/null
cmake --build --preset default --target round_trip_bench file_busy_bench owner_under_storm_bench slow_lines_bench fresh_connection_bench admission_flood_bench as_systemd_user
tests/integration/isolated.sh build/default/bench/round_trip_bench
tests/integration/isolated.sh build/default/bench/file_busy_bench
tests/integration/isolated.sh build/default/bench/owner_under_storm_bench
tests/integration/isolated.sh build/default/bench/slow_lines_bench
tests/integration/isolated.sh build/default/bench/fresh_connection_bench
build/default/bench/as_systemd_user "$PWD/build/default/bench/fresh_connection_bench"
tests/integration/isolated.sh build/default/bench/admission_flood_bench
build/default/bench/as_systemd_user "$PWD/build/default/bench/admission_flood_bench"
