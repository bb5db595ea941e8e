#!/usr/bin/env bash
# Sends a 256 KB update over JACK (delay and unprepDelay 0, ideal 3072) to the simulator and
# compares the byte rate achieved while chunks go out with the rate the rest times allow (the
# same run on a simulated clock, where only the rests take time). Fails when the port adds 2% or
# more.
# Usage: bench.sh MIDIUPDATE   (with JACK_DEFAULT_SERVER naming a running server)
set -uo pipefail
midiupdate=$1
work=$(mktemp -d)
simpid=""
cleanup() {
  if [ -n "$simpid" ]; then kill -INT "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq 256); do
  printf '\360'
  head -c 1022 /dev/zero | tr '\0' '\023'
  printf '\367'
done >"$work/big.syx"
"$midiupdate" pack -o "$work/big.upd" --product "Bench Pad" --version 1.05 \
  --port-settings "win:x:name:Bench Pad:ideal:3072:max:3072:delay:0:unprepdelay:0" \
  --portion "$work/big.syx" >/dev/null || exit 1

# Milliseconds from the first chunk to the end of the portion's chunks, from --events output:
# the indeterminate report just before the first "Sent" and the first progress of 1 after it.
send_phase() {
  awk -F'[:,}]' '
    /"event": "indeterminate"/ && !sending { start = $2 + 0 }
    /"text": "Sent / { sending = 1 }
    sending && /"event": "progress", "value": 1}/ { print $2 - start; exit }
  ' "$1"
}

# The same system as the real run below, so that only its pacing (never ALSA's) joins the rests.
"$midiupdate" send "$work/big.upd" --dry-run --events --api jack >"$work/dry.events" 2>/dev/null
prescribed=$(send_phase "$work/dry.events")

"$midiupdate" simulate "$work/big.upd" --timeout 300 --api jack >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 100); do
  [ "$("$midiupdate" ports --api jack 2>/dev/null | grep -c "Bench Pad")" -ge 2 ] && break
  sleep 0.1
done
timeout 200 "$midiupdate" send "$work/big.upd" --yes --events --api jack >"$work/real.events" 2>"$work/err"
status=$?
kill -INT "$simpid"
wait "$simpid"
simpid=""
achieved=$(send_phase "$work/real.events")
bytes=$(stat -c %s "$work/big.syx")

if [ "$status" -ne 0 ] || [ -z "$achieved" ] || [ -z "$prescribed" ]; then
  echo "FAIL: benchmark run did not complete (send exit $status)"; cat "$work/err" "$work/sim.out"; exit 1
fi
grep -q "Verdict: every byte arrived as the file says." "$work/sim.out" || { echo "FAIL: data lost"; cat "$work/sim.out"; exit 1; }
awk -v b="$bytes" -v p="$prescribed" -v a="$achieved" 'BEGIN {
  over = 100 * (a - p) / p
  printf "256 KB over JACK: %d bytes, chunks sent in %d ms (rests alone: %d ms)\n", b, a, p
  printf "achieved %.1f bytes/s against %.1f bytes/s the rest times allow: the port adds %+.2f%%\n", b * 1000 / a, b * 1000 / p, over
  if (over >= 2) { print "FAIL: the port adds 2% or more"; exit 1 }
}'
