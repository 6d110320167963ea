#!/usr/bin/env bash
# Runs every libFuzzer harness over a copy of its corpus for FUZZ_SECONDS (default 20). The harnesses come
# from the 'asan' build (libraries and harnesses instrumented for coverage, AddressSanitizer and UBSan),
# which the test run has already built; FUZZ_PRESET=fuzz takes the optimised fuzz build instead, for long
# runs: FUZZ_PRESET=fuzz FUZZ_SECONDS=300 bash scripts/test.d/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-20}
preset=${FUZZ_PRESET:-asan}
cmake --preset "$preset" >/dev/null
mkdir -p build
cmake --build --preset "$preset" -j "$(nproc)" >build/fuzz-build.log 2>&1 || { tail -n 40 build/fuzz-build.log; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# harness : corpus folder (empty for none) : longest input : extra options
while IFS=: read -r fuzzer corpus len extra; do
  dir="$work/$fuzzer"
  mkdir -p "$dir"
  [ -z "$corpus" ] || cp "$corpus"/* "$dir"/
  echo "--- $fuzzer"
  # shellcheck disable=SC2086
  if ! build/"$preset"/bin/"$fuzzer" "$dir" -max_total_time="$seconds" -max_len="$len" -print_final_stats=1 -artifact_prefix="$work/$fuzzer-" $extra \
      >"$work/$fuzzer.log" 2>&1; then
    tail -n 40 "$work/$fuzzer.log"
    mkdir -p build/fuzz-findings
    cp "$work/$fuzzer"-* build/fuzz-findings/ 2>/dev/null || true
    failed=1
  fi
  grep -E 'DONE' "$work/$fuzzer.log" | tail -n 1 || true
done <<'LIST'
bdoc_moniker_fuzz:fuzz/bdoc/corpus:512:
bnodes_text_fuzz:fuzz/bnodes/corpus:512:
browse_path_fuzz:fuzz/browse/corpus:512:
dispatch_invoke_fuzz::256:
engine_model_fuzz:fuzz/engine/corpus:4096:
engine_input_fuzz:fuzz/engine/inputs:2048:
engine_roundtrip_fuzz:fuzz/engine/roundtrip:4096:
grids_ops_fuzz:fuzz/grids/corpus:512:
host_script_fuzz:fuzz/host/corpus:1024:-timeout=10
platform_change_type_fuzz:fuzz/platform/corpus/change_type:512:
platform_dom_ops_fuzz:fuzz/platform/corpus/dom_ops:512:
LIST
[ "$failed" -eq 0 ] || { echo "a fuzzer found a fault"; exit 1; }
echo "fuzzers: 11 ran ${seconds}s each, no findings"
