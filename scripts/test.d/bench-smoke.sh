#!/usr/bin/env bash
# Runs every benchmark once at small sizes (scripts/bench.sh --smoke) so that they keep building and
# running; the figures of a smoke run are not checked.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/bench.sh --smoke
