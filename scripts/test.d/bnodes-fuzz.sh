#!/usr/bin/env bash
# Builds the engine node text fuzzer with clang and runs it for 30 seconds over a copy of its corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/bnodes-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNUV_BUILD_FUZZ=ON -DNUV_BUILD_TESTS=OFF -DNUV_BUILD_BENCH=OFF -DNUV_WERROR=ON >/dev/null
cmake --build "$dir" --target bnodes_text_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/bnodes/corpus/* "$work"/
"$dir"/bin/bnodes_text_fuzz "$work" -max_total_time=30 -max_len=512 -print_final_stats=1
