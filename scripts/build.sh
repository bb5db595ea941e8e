#!/usr/bin/env bash
# Configures and builds one CMake preset (all of it, or just the targets named). It prints a line as
# each target is built, and the compiler's whole output only when the build fails.
# Usage: scripts/build.sh PRESET [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

preset=$1
shift
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "build: configuring $preset"
if ! cmake --preset "$preset" >"$log" 2>&1; then
  cat "$log"
  echo "Build failed (configuring $preset)." >&2
  exit 1
fi
echo "build: building $preset"
set +e
cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" 2>&1 | tee "$log" |
  sed -u -n "s/^\[ *\([0-9]*%\)\] Built target \(.*\)/build:   $preset \1 \2/p"
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  cat "$log"
  echo "Build failed." >&2
  exit 1
fi
