#!/usr/bin/env bash
# Configures and builds one CMake preset, showing the compiler's output only when the build fails.
# Usage: scripts/build.sh PRESET
set -euo pipefail
cd "$(dirname "$0")/.."

preset=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log"
  echo "Build failed." >&2
  exit 1
fi
