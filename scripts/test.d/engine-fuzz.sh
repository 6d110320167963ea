#!/usr/bin/env bash
# Builds the model-file fuzzer with clang and runs it for 60 seconds over a copy of its corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/engine-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNUV_BUILD_FUZZ=ON -DNUV_BUILD_TESTS=OFF -DNUV_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target engine_model_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/engine/corpus/* "$work"/
"$dir"/bin/engine_model_fuzz "$work" -max_total_time=60 -max_len=4096 -print_final_stats=1
