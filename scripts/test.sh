#!/usr/bin/env bash
# Builds and runs the whole test suite: the plain build and the AddressSanitizer+UBSan build (clang; it also
# builds the fuzz harnesses, which scripts/test.d/fuzz.sh runs) in full, then
# the clang build with ThreadSanitizer (everything is built, so clang's warnings are checked too; its test
# preset runs the tests labelled "threads"), then the extra steps in scripts/test.d (cross-checks against
# the real platform, fuzz smoke runs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
passed=0
failed=0
for preset in default asan tsan; do
  echo "=== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" >"$logs/build-$preset.log" 2>&1 || { tail -n 60 "$logs/build-$preset.log"; exit 1; }
  echo "=== test: $preset"
  if ctest --preset "$preset" -j "$jobs" >"$logs/ctest-$preset.log" 2>&1; then rc=0; else rc=$?; fi
  grep -E 'tests passed|Failed|\*\*\*' "$logs/ctest-$preset.log" || true
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$logs/ctest-$preset.log" | tail -n 1 || true)
  [ -n "$line" ] || line="0% tests passed, 0 tests failed out of 0"
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$rc" -eq 0 ] || { echo "ctest failed for $preset"; exit 1; }
done
for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  name=$(basename "$extra" .sh)
  echo "=== $name"
  if bash "$extra" >"$logs/$name.log" 2>&1; then
    tail -n 3 "$logs/$name.log"
  else
    tail -n 60 "$logs/$name.log"
    echo "step $name failed"
    exit 1
  fi
done
echo "tests: $passed passed, $failed failed"
