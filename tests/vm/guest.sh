#!/usr/bin/env bash
# Runs inside the virtual machine of scripts/vm/run.sh (a real ALSA sequencer, 32-bit programs),
# in the source folder: every case bounded in time, its output in /vmshare/NAME.log, one line per
# case here. Exits non-zero when any case failed.
set -uo pipefail
share=/vmshare
midiupdate=$PWD/build/ci/cli/midiupdate
failed=()

# case NAME SECONDS COMMAND...
case_() {
  local name=$1 limit=$2 start status
  shift 2
  start=$(date +%s)
  timeout --kill-after=10 "$limit" "$@" >"$share/$name.log" 2>&1
  status=$?
  if [ "$status" -eq 0 ]; then
    echo "PASS $name ($(( $(date +%s) - start )) s)"
  else
    [ "$status" -eq 124 ] && echo "FAIL $name: not done within $limit s" ||
      echo "FAIL $name (status $status, $(( $(date +%s) - start )) s)"
    failed+=("$name")
  fi
}

modprobe snd-seq-dummy || { echo "FAIL: no ALSA sequencer (snd-seq-dummy)"; exit 1; }
echo "guest: $(uname -r), $(nproc) processors, ALSA sequencer: $(ls /dev/snd | tr '\n' ' ')"

only() { [ -z "${VM_CASES:-}" ] || [[ " $VM_CASES " == *" $1 "* ]]; }

only alsa && case_ alsa 300 bash tests/e2e/updates.sh "$midiupdate" alsa
only wine && case_ wine 600 bash tests/vm/wine.sh
only window && case_ window 1000 bash tests/vm/window.sh
only browser && case_ browser 600 bash tests/vm/browser.sh
only amidi && case_ amidi 400 bash tests/vm/amidi.sh "$midiupdate"

[ ${#failed[@]} -eq 0 ] || { echo "failed in the guest: ${failed[*]}"; exit 1; }
echo "all guest cases passed"
