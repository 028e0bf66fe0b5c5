#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the tree is not formatted the
# way .clang-format says. Run `scripts/check-format.sh --fix` to format them.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
