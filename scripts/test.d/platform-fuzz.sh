#!/usr/bin/env bash
# Builds the text-to-number conversion fuzzer (fuzz preset, clang) and runs it for 30 seconds over a
# copy of its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target platform_change_type_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/platform/corpus/change_type/* "$work"/
build/fuzz/bin/platform_change_type_fuzz "$work" -max_total_time=30 -max_len=256 -print_final_stats=1
