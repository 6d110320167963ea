#!/usr/bin/env bash
# Runs the main job: the host program on the bundled example plant. Extra arguments go to the host
# (for example a script file to run instead of the walk-solve-report job).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target nuvhost nuvclass >/dev/null
exec build/default/bin/nuvhost examples/plant.model "$@"
