#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: each stage under scripts/stages,
# in name order, each bounded in time. STAGES="01 02" runs only the stages whose names start so
# (a quick loop for developers); the default is all of them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
failed=()
for stage in scripts/stages/*.sh; do
  name=$(basename "$stage" .sh)
  if [ -n "${STAGES:-}" ]; then
    match=0
    for want in $STAGES; do [[ $name == "$want"* ]] && match=1; done
    [ $match -eq 1 ] || continue
  fi
  limit=$(sed -n 's/^# time-limit: *\([0-9]*\).*/\1/p' "$stage")
  echo "=== $name (at most ${limit:-600} s)"
  start=$(date +%s)
  if timeout --kill-after=10 "${limit:-600}" bash "$stage"; then
    echo "=== $name passed in $(( $(date +%s) - start )) s"
  else
    echo "=== $name FAILED (status $?) after $(( $(date +%s) - start )) s"
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed stages: ${failed[*]}"
  exit 1
fi
echo "All stages passed."
