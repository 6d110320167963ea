#!/usr/bin/env bash
# Builds the platform fuzzers (fuzz preset, clang) and runs each for 30 seconds over a copy of its
# seed corpus: text-to-number conversions, then sequences of XML DOM operations.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target platform_change_type_fuzz platform_dom_ops_fuzz
for pair in change_type_fuzz:change_type dom_ops_fuzz:dom_ops; do
  fuzzer=platform_${pair%%:*}
  corpus=fuzz/platform/corpus/${pair##*:}
  work=$(mktemp -d)
  cp "$corpus"/* "$work"/
  echo "--- $fuzzer"
  build/fuzz/bin/"$fuzzer" "$work" -max_total_time=30 -max_len=512 -print_final_stats=1
  rm -rf "$work"
done
