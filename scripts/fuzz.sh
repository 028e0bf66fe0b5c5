#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with the release's clang
# (whichever version it ships) and runs each for a bounded time, starting
# from the seed corpus in tests/fuzz/corpus.
#
#   scripts/fuzz.sh                 4 seconds per target (what the test command runs)
#   scripts/fuzz.sh 600             ten minutes per target
#   scripts/fuzz.sh 3600 fuzz_command_framing   one target for an hour
#
# New inputs that reach new code are kept in build/fuzz/found/<target> and are
# used again by the next run; copy the interesting ones into the seed corpus.
# A crash leaves its input in build/fuzz/crash-* and ends the script with a
# failure; reproduce it with build/fuzz/<target> build/fuzz/crash-<id>.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-4}
shift || true
build=build/fuzz

cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for corpus in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$corpus")")
  done
fi

for target in "${targets[@]}"; do
  mkdir -p "$build/found/$target"
  log="$build/$target.log"
  if ! (cd "$build" && "./$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "found/$target" "../../tests/fuzz/corpus/$target") >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target failed (log: $log)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: $runs executions in ${seconds}s"
done
