#!/usr/bin/env bash
# tools/format.sh [--check]: apply .clang-format to every C and C++ file git
# tracks, or with --check only report the files that differ (exit 1).
# Generated tables keep the layout their script gives them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' | grep -v -e '^components/wmastd/wmastdtables\.')
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if ((${#bad[@]})); then
    printf 'Not formatted (run bash tools/format.sh):\n'
    printf '  %s\n' "${bad[@]}"
    exit 1
  fi
else
  clang-format -i "${files[@]}"
fi
