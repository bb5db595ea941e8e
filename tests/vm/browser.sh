#!/usr/bin/env bash
# In the virtual machine: Chromium's own Web MIDI over the ALSA sequencer. `midiupdate simulate`
# serves the demo device, the page (headless Chromium) updates it, and the simulator must have
# received every byte as the file says, and the page must give the command line's verdict.
set -uo pipefail
midiupdate=$PWD/build/ci/cli/midiupdate
demo=$PWD/build/ci/examples/demo.upd
work=$(mktemp -d)
simpid=""
cleanup() {
  if [ -n "$simpid" ]; then kill -INT "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
# The page's server and the DevTools connection are on loopback, which the guest starts down.
ip link set lo up || { echo "FAIL: cannot bring up loopback"; exit 1; }

"$midiupdate" simulate "$demo" --timeout 600 --api alsa >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 300); do
  [ "$("$midiupdate" ports --api alsa 2>/dev/null | grep -c "Demo Synth")" -ge 2 ] && break
  sleep 0.2
done
"$midiupdate" ports --api alsa

expected=$("$midiupdate" send "$demo" --dry-run --events 2>/dev/null | node -e 'let t="";
  process.stdin.on("data",d=>t+=d).on("end",()=>{for(const l of t.split("\n"))
    if(l.includes("\"completed\""))console.log(JSON.parse(l).text)})')
echo "the command line's verdict: $expected"
start=$(date +%s)
NODE_PATH=$PWD/build/web/node/node_modules node tests/web/real_midi.js "$PWD/build/web/site" "$demo" "$expected"
status=$?
echo "the page's run took $(( $(date +%s) - start )) s"
kill -INT "$simpid"
wait "$simpid"
simpid=""
cat "$work/sim.out"
[ "$status" -eq 0 ] || { echo "FAIL: the page's update over ALSA"; exit 1; }
grep -q "Verdict: every byte arrived as the file says." "$work/sim.out" ||
  { echo "FAIL: the simulator did not get every byte as the file says"; exit 1; }
echo "PASS: Chromium's Web MIDI over ALSA updated the simulator"
