#!/usr/bin/env bash
# Builds the program and updates the demo file against the built-in virtual device, in real time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release
exec build/release/cli/midiupdate send build/release/examples/demo.upd --virtual --yes "$@"
