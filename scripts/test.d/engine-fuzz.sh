#!/usr/bin/env bash
# Builds the engine fuzzers with clang and runs each for 45 seconds over a copy of its corpus: model files,
# and queries, task descriptions and variable files.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/engine-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNUV_BUILD_FUZZ=ON -DNUV_BUILD_TESTS=OFF -DNUV_BUILD_BENCH=OFF -DNUV_WERROR=ON >/dev/null
cmake --build "$dir" --target engine_model_fuzz engine_input_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/model" "$work/input"
cp fuzz/engine/corpus/* "$work/model"/
cp fuzz/engine/inputs/* "$work/input"/
"$dir"/bin/engine_model_fuzz "$work/model" -max_total_time=45 -max_len=4096 -print_final_stats=1
"$dir"/bin/engine_input_fuzz "$work/input" -max_total_time=45 -max_len=2048 -print_final_stats=1
