#!/usr/bin/env bash
# Runs the main job. Until the host program lands this runs the platform test binary as a demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
if [ -x build/default/bin/nuvhost ]; then
  exec build/default/bin/nuvhost examples/plant.model "$@"
fi
exec build/default/bin/platform_tests
