#!/usr/bin/env bash
# time-limit: 900
# The native build with warnings as errors, and every unit and command-line test.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/build.sh ci
ctest --preset ci -j "$(nproc)"
