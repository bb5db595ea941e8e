#!/usr/bin/env bash
# In the guest: midiupdate judged by ALSA's own tools instead of this project's device models.
# snd-virmidi pairs each sequencer port "Virtual Raw MIDI N-M" with the raw MIDI device hw:N,M:
# what a program sends to the port, `amidi -r` reads from the device, and what `amidi -s` writes
# to the device comes out of the port. So `midiupdate send` to that port must put on the wire
# exactly the bytes the chunking rules give (worked out apart, by wire.py), and `midiupdate
# simulate` fed by `amidi -s` must count a paced file exactly and must not call a flooded, lossy
# one good; and what `arecordmidi` records of a Standard MIDI File sent at its own times must keep
# those times. Files are made here: hand-made messages, a firmware image converted by hex2syx.py
# and the timed file of ../e2e/make_timed_midi.py.
# Usage: amidi.sh MIDIUPDATE
set -uo pipefail
midiupdate=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
bg=()
cleanup() {
  # A simulator may be stopped (SIGSTOP) when the script is cut short.
  for pid in "${bg[@]}"; do kill -CONT "$pid" 2>/dev/null; kill -INT "$pid" 2>/dev/null; done
  for pid in "${bg[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
case=setup
fail() {
  echo "FAIL ($case): $*"
  failures=$((failures + 1))
}
show() { for f in "$@"; do echo "--- $f"; cat "$work/$f" 2>/dev/null; done; }

# wait_for SECONDS COMMAND...: until COMMAND succeeds, looking every tenth of a second; false when
# it has not within SECONDS.
wait_for() {
  local limit=$(( $1 * 10 ))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  "$@"
}
size_at_least() { [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ]; }
# A process holds raw MIDI device N,M open (amidi opens it only after creating its file).
holds_device() { ls -l "/proc/$1/fd" 2>/dev/null | grep -q "/dev/snd/midiC$2D$3\$"; }
# The sequencer client whose name is NAME among the readable (-i) or writable (-o) ports.
seq_client() { aconnect "$1" | sed -n "s/^client \([0-9]*\): '$2' .*/\1/p" | head -n 1; }
stop() {
  kill -INT "$1" 2>/dev/null
  wait "$1"
  local status=$?
  local keep=()
  for pid in "${bg[@]}"; do [ "$pid" = "$1" ] || keep+=("$pid"); done
  bg=("${keep[@]}")
  return "$status"
}

modprobe snd-virmidi midi_devs=2 || { echo "FAIL: cannot load snd-virmidi"; exit 1; }
card=$(awk '$2 == "[VirMIDI" { print $1; exit }' /proc/asound/cards)
[ -n "$card" ] || { echo "FAIL: no VirMIDI card in /proc/asound/cards:"; cat /proc/asound/cards; exit 1; }
wait_for 10 test -e "/dev/snd/midiC${card}D1" || { echo "FAIL: no /dev/snd/midiC${card}D1"; ls /dev/snd; exit 1; }
port0="Virtual Raw MIDI $card-0" port1="Virtual Raw MIDI $card-1"
c0=$(seq_client -i "$port0") c1=$(seq_client -i "$port1")
echo "--- amidi -l"; amidi -l
echo "--- aconnect -l"; aconnect -l
[ -n "$c0" ] && [ -n "$c1" ] || { echo "FAIL: the sequencer clients '$port0' and '$port1' are not listed"; exit 1; }
echo "sequencer clients: '$port0' is $c0, '$port1' is $c1"

# How the two sides pair, shown with ALSA's tools alone: bytes written to hw:N,1 come out of the
# sequencer port N-1; connected to port N-0, they reach a reader of hw:N,0.
case=pairing
stdbuf -oL aseqdump -p "$c1:0" >"$work/dump.txt" 2>&1 &
bg+=($!)
wait_for 10 grep -q 'Waiting for data' "$work/dump.txt" || fail "aseqdump did not start: $(cat "$work/dump.txt")"
amidi -p "hw:$card,1" -S 'F0 7D 55 01 F7'
if wait_for 10 grep -q 'F0 7D 55 01 F7' "$work/dump.txt"; then
  echo "  amidi -S on hw:$card,1 came out of sequencer port $c1:0: $(grep 'F0 7D' "$work/dump.txt")"
else
  fail "amidi -S on hw:$card,1 never came out of sequencer port $c1:0"; show dump.txt
fi
stop "${bg[-1]}"
amidi -p "hw:$card,0" -a -c -r "$work/probe.bin" -t 30 &
bg+=($!)
wait_for 10 holds_device "${bg[-1]}" "$card" 0 || fail "amidi -r never opened hw:$card,0"
aconnect "$c1:0" "$c0:0"
amidi -p "hw:$card,1" -S 'F0 7D 55 02 F7'
wait_for 10 size_at_least "$work/probe.bin" 5
stop "${bg[-1]}"
aconnect -d "$c1:0" "$c0:0"
if [ "$(od -An -tx1 "$work/probe.bin" | tr -d ' \n')" = f07d5502f7 ]; then
  echo "  sent to sequencer port $c0:0, read by amidi -r from hw:$card,0: F0 7D 55 02 F7"
else
  fail "sequencer port $c0:0 to hw:$card,0 gave: $(od -An -tx1 "$work/probe.bin")"
fi
echo "--- midiupdate ports --api alsa"; "$midiupdate" ports --api alsa

# The files, all made here.
python3 "$here/wire.py" handmade "$work"
python3 -c 'import random, sys; r = random.Random(7)
sys.stdout.buffer.write(bytes(r.randrange(256) for _ in range(9000)))' >"$work/image.bin"
objcopy -I binary -O ihex --change-addresses 0x8000 "$work/image.bin" "$work/image.hex"
python3 "$here/hex2syx.py" "$work/image.hex" "$work/firmware.syx"
"$midiupdate" pack -o "$work/update.upd" --product "Amidi Check" --version 1.05 \
  --port-settings "win:x:delay:20:unprepdelay:0" --portion "$work/mixed.syx" \
  --portion "$work/lines.txt" --portion "$work/firmware.syx" >/dev/null 2>"$work/pack.err" ||
  { fail "pack failed"; show pack.err; }
# What the update file's portions go out as, with the documented defaults (ideal 1024, max 3072,
# chunks yes), and the Identity Request the sender asks with when no status came.
identity='\xF0\x7E\x7F\x06\x01\xF7'
python3 "$here/wire.py" expect "$work/mixed.syx" "$work/lines.txt" "$work/firmware.syx" \
  >"$work/update.wire" 2>"$work/chunks.txt"
printf "$identity" >>"$work/update.wire"
# A raw file goes out as it is.
for f in mixed firmware; do cp "$work/$f.syx" "$work/$f.wire" && printf "$identity" >>"$work/$f.wire"; done
echo "--- the chunks of the update file's portions"; cat "$work/chunks.txt"

# send_case NAME FILE EXPECTED [SEND_ARGS...]: `midiupdate send` to port N-0 while `amidi -r`
# reads hw:N,0; the device never answers, so the verdict is "sent but not confirmed" (exit 3).
send_case() {
  case=$1
  local file=$2 expected=$3 start amidipid
  shift 3
  rm -f "$work"/got.bin "$work"/send.*
  start=$(date +%s)
  # -t bounds amidi should this script be cut short; it is stopped as soon as the bytes are in.
  amidi -p "hw:$card,0" -a -c -r "$work/got.bin" -t 120 &
  amidipid=$!
  bg+=("$amidipid")
  wait_for 10 holds_device "$amidipid" "$card" 0 || fail "amidi -r never opened hw:$card,0"
  timeout 200 "$midiupdate" send "$file" --port "$port0" --yes --api alsa --log "$work/send.log" "$@" \
    >"$work/send.out" 2>"$work/send.err"
  local sendstatus=$?
  wait_for 10 size_at_least "$work/got.bin" "$(stat -c %s "$expected")"
  # The device's own count of bytes it had to drop for want of room, should any be missing.
  local overruns
  overruns=$(awk -v p="$amidipid" '/Owner PID/ { on = ($NF == p) } on && /Overruns/ { print $NF }' \
    "/proc/asound/card$card/midi0")
  stop "$amidipid"
  echo "  $case: send exit $sendstatus, $(stat -c %s "$work/got.bin") bytes read of $(stat -c %s "$expected") expected, $(( $(date +%s) - start )) s"
  [ "$sendstatus" -eq 3 ] || { fail "send exit $sendstatus, expected 3 (sent, not confirmed)"; show send.out send.err; }
  grep -q 'The update has been sent' "$work/send.out" || fail "no 'sent' verdict"
  python3 "$here/wire.py" compare "$expected" "$work/got.bin" >"$work/compare.txt" ||
    fail "the wire differs from the file's rules (amidi's device overruns: ${overruns:-?}): $(cat "$work/compare.txt")"
}

send_case raw-handmade "$work/mixed.syx" "$work/mixed.wire" --delay 20 --unprep-delay 0
send_case raw-firmware "$work/firmware.syx" "$work/firmware.wire" --delay 20 --unprep-delay 0
send_case update-file "$work/update.upd" "$work/update.wire"

# A Standard MIDI File's SysEx at its own times, recorded by arecordmidi: the sequencer stamps
# each event with the time of the recorder's queue as it delivers it (ticks of 1 ms, though the
# queue's timer moves at the kernel's tick, 4 ms in the guest), so the recording holds when each
# message arrived, whenever the recorder got to read it. The messages must come whole, in order,
# and none earlier than the file's time or the pace allow, measured from the first, less how late
# the first left (the sender's timed log tells) and 25 ms for the queue's tick and the sender's
# own hand-over (a virtual machine without hardware help).
case=timed-midi-file
recorder_listed() { [ -n "$(seq_client -o arecordmidi)" ]; }
# The recorder's input holds nothing that it has not read.
recorder_drained() {
  local client
  client=$(seq_client -o arecordmidi)
  awk -v c="$client" '$1 == "Client" { on = ($2 == c) } on && /Input pool/ { pool = 1 }
    on && pool && /Cells in use/ { print $NF; exit }' /proc/asound/seq/clients | grep -qx 0
}
python3 "$here/../e2e/make_timed_midi.py" make "$work/timed.mid" | sed 's/^/    /'
start=$(date +%s)
# It records what comes to its own port; the source it must name (the other VirMIDI port) is silent.
arecordmidi -p "$c1:0" -b 60 -t 1000 "$work/recorded.mid" >"$work/arec.out" 2>&1 &
recpid=$!
bg+=("$recpid")
wait_for 10 recorder_listed || fail "arecordmidi's port never appeared: $(cat "$work/arec.out")"
# Its timed log (--verbose, on standard error) tells when the first message left.
timeout 60 "$midiupdate" send "$work/timed.mid" --port "arecordmidi port 0" --yes --api alsa --verbose \
  >"$work/send.out" 2>"$work/send.err"
sendstatus=$?
wait_for 10 recorder_drained || fail "arecordmidi did not read all it was sent"
# Interrupted, it writes its file.
stop "$recpid" || fail "arecordmidi failed: $(cat "$work/arec.out")"
echo "  $case: send exit $sendstatus, $(( $(date +%s) - start )) s"
[ "$sendstatus" -eq 3 ] || { fail "send exit $sendstatus, expected 3 (sent, not confirmed)"; show send.out send.err; }
if python3 "$here/../e2e/make_timed_midi.py" check-recording "$work/timed.mid" "$work/recorded.mid" 25 \
  "$work/send.err" >"$work/times"; then
  sed 's/^/    /' "$work/times"
else
  fail "a message came too early, differs or is missing (25 ms allowed):"
  sed 's/^/    /' "$work/times"
fi

# sim_case NAME SECONDS FREEZE [AMIDI_ARGS...]: `midiupdate simulate` of the firmware file, its
# input connected to port N-0, and `amidi -s` of that file into hw:N,0. With FREEZE the simulator
# is stopped (SIGSTOP) while amidi writes: a receiver that cannot keep up, however fast this
# machine is, so the kernel must drop what its input pool cannot hold. The simulator is ended at
# the step line of a complete portion, or else ends at its own time-out of SECONDS. Leaves
# simstatus, and lost: the events the kernel could not queue for it (its input pool's failures).
simulator_listed() { [ -n "$(seq_client -o 'Amidi Check')" ]; }
sim_case() {
  case=$1
  local limit=$2 freeze=$3
  shift 3
  local start simpid simclient
  rm -f "$work"/sim.*
  start=$(date +%s)
  "$midiupdate" simulate "$work/firmware.syx" --name "Amidi Check" --api alsa --timeout "$limit" \
    >"$work/sim.out" 2>"$work/sim.err" &
  simpid=$!
  bg+=("$simpid")
  wait_for 10 simulator_listed || fail "the simulator's input never appeared"
  simclient=$(seq_client -o 'Amidi Check')
  aconnect "$c0:0" "$simclient:0" || fail "cannot connect $c0:0 to the simulator's $simclient:0"
  [ "$freeze" = yes ] && kill -STOP "$simpid"
  # amidi returns once the device has taken every byte, when the kernel has delivered or dropped
  # them all.
  amidi -p "hw:$card,0" -s "$work/firmware.syx" "$@" || fail "amidi -s failed"
  awk -v c="$simclient" '$1 == "Client" { on = ($2 == c) } on' /proc/asound/seq/clients >"$work/sim.pool"
  lost=$(awk '/Input pool/ { on = 1 } on && /Alloc failures/ { print $NF; exit }' "$work/sim.pool")
  [ "$freeze" = yes ] && kill -CONT "$simpid"
  wait_for $((limit + 10)) sh -c "grep -q '^Portions complete: 1 of 1' '$work/sim.out' || ! kill -0 $simpid 2>/dev/null"
  stop "$simpid"
  simstatus=$?
  echo "  $case: simulator exit $simstatus, the kernel dropped ${lost:-?} events for it, $(( $(date +%s) - start )) s"
  show sim.out sim.err sim.pool | sed 's/^/    /'
}

sim_case paced 30 no -i 200
[ "${lost:-1}" -eq 0 ] || fail "the kernel dropped ${lost:-an unknown number of} events, paced as it was"
[ "$simstatus" -eq 0 ] || fail "simulator exit $simstatus, expected 0"
grep -q "Verdict: every byte arrived as the file says." "$work/sim.out" || fail "not every byte counted"
grep -Eq "^Received ([0-9]+) of \1 bytes" "$work/sim.out" || fail "byte count differs"

sim_case flooded 20 yes
if [ "${lost:-0}" -eq 0 ]; then
  fail "the kernel dropped nothing for the simulator (Alloc failures: ${lost:-none}); the flood tested nothing"
else
  [ "$simstatus" -ne 0 ] || fail "the simulator's exit is 0 for a lossy transfer"
  ! grep -Eq "Verdict: (every byte arrived|SysEx arrived)" "$work/sim.out" || fail "the simulator calls a lossy transfer good"
fi

[ "$failures" -eq 0 ] || { echo "$failures amidi case(s) failed"; exit 1; }
echo "all amidi cases passed"
