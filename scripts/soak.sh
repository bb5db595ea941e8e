#!/usr/bin/env bash
# Runs stages ROUNDS times in a row in COPIES fresh clones of this checkout's HEAD at once, each
# copy loading the machine for the others: a test that depends on timing luck shows up here. A
# copy stops at its first failing round and keeps that round's log.
# Usage: scripts/soak.sh [ROUNDS [COPIES]]   (defaults 20 and 2; STAGES as for scripts/test.sh,
#        default "10 25 30": native, JACK and sanitizers; SOAK_DIR reuses the copies of an earlier
#        soak there)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-20}
copies=${2:-2}
stages=${STAGES:-10 25 30}
work=${SOAK_DIR:-$(mktemp -d "$PWD/../soak.XXXXXX")}
mkdir -p "$work"
echo "soak: $copies copies of $(git rev-parse --short HEAD), $rounds rounds of stages '$stages', in $work"

soak_copy() {
  local copy=$1 dir="$work/copy$1"
  # A copy kept from an earlier soak (SOAK_DIR) keeps its builds and takes this HEAD.
  if [ -d "$dir/.git" ]; then
    git -C "$dir" fetch -q "$PWD" HEAD && git -C "$dir" checkout -q --detach FETCH_HEAD
  else
    git clone -q "$PWD" "$dir"
  fi
  for round in $(seq "$rounds"); do
    local start=$SECONDS
    if STAGES="$stages" bash "$dir/scripts/test.sh" >"$work/copy$copy.round$round.log" 2>&1; then
      echo "soak: copy $copy round $round passed in $((SECONDS - start)) s"
      rm -f "$work/copy$copy.round$round.log"
    else
      echo "soak: copy $copy round $round FAILED after $((SECONDS - start)) s (log: $work/copy$copy.round$round.log)"
      return 1
    fi
  done
}

pids=()
for copy in $(seq "$copies"); do soak_copy "$copy" & pids+=($!); done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
[ "$failed" -eq 0 ] && echo "soak: every round of every copy passed" || { echo "soak: a copy failed"; exit 1; }
