#!/usr/bin/env bash
# Builds the program and updates the demo file against the built-in virtual device, in real time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset release && cmake --build --preset release -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log"
  echo "Build failed." >&2
  exit 1
fi
exec build/release/cli/midiupdate send build/release/examples/demo.upd --virtual "$@"
