#!/usr/bin/env bash
# time-limit: 1200
# The native tests under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer; any report fails the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for preset in asan tsan; do
  scripts/build.sh "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
