#!/usr/bin/env bash
# Fails, listing the files, when any C or C++ source of the program, its
# tests, fuzzers or benchmarks differs from what clang-format makes of it.
# The fixtures' sources are inputs to other toolchains and are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "== format check: skipped, clang-format is not installed"
  exit 0
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' | grep -v '^tests/fixtures/')
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
  echo "== format check: ${#bad[@]} files differ from clang-format's layout:"
  printf '   %s\n' "${bad[@]}"
  exit 1
fi
echo "== format check: ${#files[@]} files formatted"
