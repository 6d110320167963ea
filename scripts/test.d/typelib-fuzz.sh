#!/usr/bin/env bash
# Builds the late-bound call fuzzer with clang and runs it for 30 seconds from an empty corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build/typelib-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNUV_BUILD_FUZZ=ON -DNUV_BUILD_TESTS=OFF -DNUV_BUILD_BENCH=OFF -DNUV_WERROR=ON >/dev/null
cmake --build "$dir" --target dispatch_invoke_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$dir"/bin/dispatch_invoke_fuzz "$work" -max_total_time=30 -max_len=256 -print_final_stats=1
