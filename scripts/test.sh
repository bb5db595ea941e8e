#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset ci && cmake --build --preset ci -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log"
  echo "Build failed." >&2
  exit 1
fi
ctest --preset ci -j "$(nproc)"
