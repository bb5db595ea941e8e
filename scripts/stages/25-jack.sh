#!/usr/bin/env bash
# time-limit: 480
# Real MIDI end to end: a private JACK server with its dummy driver, `midiupdate simulate` and
# `midiupdate send` as two processes over it (accepting, failing, silent and rebooting devices),
# and the 256 KB throughput benchmark. The server is stopped however the stage ends.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh jackd2 libjack-jackd2-dev librtmidi-dev pkg-config
scripts/build.sh ci
midiupdate=build/ci/cli/midiupdate

# A name of its own, so that no other JACK server (or client) is disturbed.
export JACK_DEFAULT_SERVER="midiupdate-test-$$"
export JACK_NO_AUDIO_RESERVATION=1
log=$(mktemp)
# Synchronous cycles (-S) with a long client time-out: on a busy machine a client that is late in
# an asynchronous cycle loses that cycle's MIDI, while the dummy driver has no hardware deadline
# and can simply wait. Cycles of 4096 frames (85 ms) wake the clients less often.
jackd -n "$JACK_DEFAULT_SERVER" -r -S -t 5000 -d dummy -p 4096 >"$log" 2>&1 &
jackpid=$!
stop_jack() {
  kill "$jackpid" 2>/dev/null || true
  wait "$jackpid" 2>/dev/null || true
  rm -f "$log"
}
trap stop_jack EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do
  "$midiupdate" ports --api jack >/dev/null 2>&1 && break
  kill -0 "$jackpid" 2>/dev/null || { echo "jackd did not start:"; cat "$log"; exit 1; }
  sleep 0.1
done
"$midiupdate" ports --api jack >/dev/null || { echo "the JACK server does not answer:"; cat "$log"; exit 1; }

bash tests/e2e/updates.sh "$midiupdate" jack
bash tests/e2e/bench.sh "$midiupdate"
