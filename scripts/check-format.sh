#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the tree is not formatted the
# way .clang-format says. Run `scripts/check-format.sh --fix` to format them.
# The release's clang-format does it: Debian 12's (14) and Debian 13's (19)
# give the same layout on this tree.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
# Without git, or outside a clone, the list is empty: a check of nothing
# would pass whatever the tree holds.
if [[ ${#files[@]} -eq 0 ]]; then
  echo "check-format: found no C++ file to check (git ls-files listed none)" >&2
  exit 1
fi
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
