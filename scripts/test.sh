#!/usr/bin/env bash
# Builds and runs the whole test suite: the plain build, then the AddressSanitizer+UBSan build.
# Further steps (cross-checks against the real platform, fuzz smoke runs) join here as they land.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
for preset in default asan; do
  echo "=== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== test: $preset"
  ctest --preset "$preset" -j "$jobs"
done
for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  echo "=== $(basename "$extra" .sh)"
  bash "$extra"
done
