#!/usr/bin/env bash
# Whole updates over a real MIDI system: `midiupdate simulate` plays the device on virtual ports
# and `midiupdate send` updates it, as two processes, for an accepting device, a failing one, a
# silent one that answers the Identity Request, one that goes away between portions and comes
# back, files of long messages with short pauses, and over JACK a Standard MIDI File whose SysEx
# must arrive no earlier than its times and the pace allow. Each case is bounded in time.
# Usage: updates.sh MIDIUPDATE API   (API jack with JACK_DEFAULT_SERVER naming a running server,
#        or alsa with a sequencer present)
set -uo pipefail
midiupdate=$1
api=$2
work=$(mktemp -d)
simpid=""
cleanup() {
  if [ -n "$simpid" ]; then kill -INT "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL ($case): $*"
  for f in send.out send.err sim.out sim.err; do echo "--- $f"; cat "$work/$f" 2>/dev/null; done
  echo "--- send log (last lines)"; tail -n 30 "$work/send.log" 2>/dev/null
  failures=$((failures + 1))
}

# SysEx messages of SIZE bytes (F0, data, F7), COUNT of them, data byte FILL (octal).
sysex() {
  local count=$1 size=$2 fill=$3
  for _ in $(seq "$count"); do
    printf '\360'
    head -c $((size - 2)) /dev/zero | tr '\0' "\\$fill"
    printf '\367'
  done
}

# pack NAME OUT PORTION_SPEC... : an update file for a device named NAME, version 1.05 (PACING
# replaces the file's pacing values).
pack() {
  local name=$1 out=$2
  shift 2
  local args=()
  for spec in "$@"; do args+=(--portion "$spec"); done
  "$midiupdate" pack -o "$out" --product "$name" --version 1.05 \
    --port-settings "win:x:name:$name:${PACING:-ideal:512:max:1024:delay:0:unprepdelay:0}" "${args[@]}" >/dev/null
}

# Starts the simulator for FILE with BEHAVIOUR and waits until its ports are listed. With
# SIM_COLUMNS set it runs on a pseudo-terminal of that width, which `script` records in sim.tty;
# Ctrl-C then goes to the simulator itself, whose pid is in sim.pid (`script` would kill it).
start_simulator() {
  local file=$1 behaviour=$2 name=$3
  rm -f "$work/sim.pid"
  if [ -n "${SIM_COLUMNS:-}" ]; then
    script -qfec "stty cols $SIM_COLUMNS rows 24; echo \$\$ >'$work/sim.pid'; exec '$midiupdate' simulate '$file' --virtual='$behaviour' --timeout 300 --api '$api'" \
      "$work/sim.tty" </dev/null >/dev/null 2>"$work/sim.err" &
  else
    "$midiupdate" simulate "$file" --virtual="$behaviour" --timeout 300 --api "$api" "${SIM_ARGS[@]}" \
      >"$work/sim.out" 2>"$work/sim.err" &
  fi
  simpid=$!
  # Both of its ports, the input and the output.
  for _ in $(seq 100); do
    [ "$("$midiupdate" ports --api "$api" 2>/dev/null | grep -c "$name")" -ge 2 ] && return 0
    sleep 0.1
  done
  return 1
}

stop_simulator() {
  if [ -s "$work/sim.pid" ]; then kill -INT "$(cat "$work/sim.pid")" 2>/dev/null; else kill -INT "$simpid" 2>/dev/null; fi
  wait "$simpid"
  simstatus=$?
  simpid=""
  # Each state of a line redrawn in place on a line of its own, escapes removed.
  if [ -f "$work/sim.tty" ]; then tr '\r' '\n' <"$work/sim.tty" | sed 's/\x1b\[K//g' >"$work/sim.out"; fi
}

# run_case NAME BEHAVIOUR LIMIT_S FILE: simulator and send; leaves sendstatus and simstatus. With
# BY_NUMBER set, send picks the device's output by its number as `ports` lists it; with BY_NAME,
# the simulator takes NAME and send picks it by that name (a file that names no port).
run_case() {
  local name=$1 behaviour=$2 limit=$3 file=$4
  rm -f "$work"/send.* "$work"/sim.*
  local start=$(date +%s)
  local port=()
  SIM_ARGS=()
  if [ -n "${BY_NAME:-}" ]; then
    SIM_ARGS=(--name "$name")
    port=(--port "$name")
  fi
  # With TIMED_LOGS both log with times: the simulator to sim.err, send to send.err.
  local log=(--log "$work/send.log")
  [ -z "${TIMED_LOGS:-}" ] || { SIM_ARGS+=(--verbose); log=(--verbose); }
  if ! start_simulator "$file" "$behaviour" "$name"; then
    fail "the simulator's ports never appeared"
    stop_simulator
    return 1
  fi
  if [ -n "${BY_NUMBER:-}" ]; then
    local id
    id=$("$midiupdate" ports --api "$api" |
      awk -v name="$name" '/input ports/ { exit } /^  #/ && index($0, name) { sub(/^  #/, ""); print $1; exit }')
    port=(--port "$id")
  fi
  timeout "$limit" "$midiupdate" send "$file" --yes --api "$api" "${log[@]}" "${port[@]}" \
    >"$work/send.out" 2>"$work/send.err"
  sendstatus=$?
  stop_simulator
  echo "  $case: send exit $sendstatus, simulator exit $simstatus, $(( $(date +%s) - start )) s"
}

expect_whole_file() {
  grep -q "Verdict: every byte arrived as the file says." "$work/sim.out" || fail "the simulator did not get every byte"
  grep -Eq "^Received ([0-9]+) of \1 bytes" "$work/sim.out" || fail "byte count differs"
  [ "$simstatus" -eq 0 ] || fail "simulator exit $simstatus"
}

sysex 4 500 021 >"$work/a.syx"
sysex 3 700 042 >"$work/b.syx"

case=accepting
pack "Accepting Pad" "$work/accept.upd" "$work/a.syx" "$work/b.syx"
run_case "Accepting Pad" "" 60 "$work/accept.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Accepting Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
expect_whole_file
grep -qx "Portions complete: 2 of 2, 0 corrupt" "$work/sim.out" || fail "the simulator did not show the portions as they came"

# On a terminal the simulator redraws one line as the bytes come; at 40 columns each state of it
# is cut after a whole word.
case=terminal
SIM_COLUMNS=40 run_case "Accepting Pad" "" 60 "$work/accept.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
expect_whole_file
# (The report at the end says "Received N of N bytes in M messages".)
grep '^Received [0-9]* of' "$work/sim.out" | grep -v ' bytes in ' >"$work/states"
[ "$(sort -u "$work/states" | wc -l)" -ge 2 ] || fail "the line was not redrawn as the bytes came: $(cat "$work/states")"
whole='^Received [0-9]+ of [0-9]+( bytes;( portions( complete:( [0-9]+( of( [0-9]+)?)?)?)?)?)?$'
bad=$(awk -v whole="$whole" 'length($0) >= 40 || $0 !~ whole' "$work/states")
[ -z "$bad" ] || fail "a state of the line is too long or cut inside a word: $bad"
rm -f "$work/sim.tty"

# An output picked by its number names one port; the device answers on its input, which the
# system may name otherwise (JACK puts RtMidi's two directions on two clients).
case=by-number
BY_NUMBER=1 run_case "Accepting Pad" "" 60 "$work/accept.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Accepting Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
grep -q "^Answers on:  the input port " "$work/send.out" || fail "the preview does not name the input"
expect_whole_file

case=failing
pack "Failing Pad" "$work/fail.upd" "$work/a.syx"
run_case "Failing Pad" "status=fail" 60 "$work/fail.upd"
[ "$sendstatus" -eq 1 ] || fail "send exit $sendstatus, expected 1"
grep -q "There was an error sending the update file." "$work/send.out" || fail "no error verdict"
expect_whole_file

case=silent
pack "Silent Pad" "$work/silent.upd" "$work/a.syx"
run_case "Silent Pad" "status=none" 60 "$work/silent.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Silent Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no verdict from the Identity Reply"
grep -q "Identity Requests: 1" "$work/sim.out" || fail "the device was not asked"
expect_whole_file

case=rebooting
# The first portion's pause keeps the host away long enough for the device to restart; the
# device stays away longer than that pause, so the host finds it gone and waits for it.
pack "Rebooting Pad" "$work/reboot.upd" "$work/a.syx@100" "$work/b.syx"
run_case "Rebooting Pad" "offline=13000" 90 "$work/reboot.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Rebooting Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
grep -q "MIDI port is not connected. Waiting, then retrying" "$work/send.log" || fail "the host never found the device away"
expect_whole_file

# Messages longer than a chunk and than what a MIDI system carries in one piece, several to a
# chunk, with the short pauses a maker may choose.
case=short-pauses
sysex 4 700 043 >"$work/c.syx"
sysex 3 300 044 >"$work/d.syx"
PACING="ideal:1024:max:3072:delay:20:unprepdelay:10" pack "Quick Pad" "$work/quick.upd" "$work/c.syx" "$work/d.syx"
run_case "Quick Pad" "" 60 "$work/quick.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Quick Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
expect_whole_file

case=long-messages
# 6 KB messages: more than a receiving sequencer client holds at once.
sysex 2 6000 045 >"$work/e.syx"
PACING="ideal:3072:max:8192:delay:5:unprepdelay:0" pack "Long Pad" "$work/long.upd" "$work/e.syx"
run_case "Long Pad" "" 90 "$work/long.upd"
[ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
grep -q "The 'Long Pad' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
expect_whole_file

# A Standard MIDI File's SysEx at its own times, over JACK: each message whole and in order (the
# simulator checks every byte against the file) and none earlier than the file's time or the pace
# allow, measured from the first message's arrival. The simulator's log stamps each message as the
# JACK cycle that carries it reaches its input; a message waits at most one period for its cycle,
# so against the first message's stamp any may seem early by up to one period (and by as much as
# the first message left late, which the sender's timed log tells).
if [ "$api" = jack ]; then
  case=timed-midi-file
  here=$(cd "$(dirname "$0")" && pwd)
  python3 "$here/make_timed_midi.py" make "$work/timed.mid" | sed 's/^/    /'
  frames=$(jack_bufsize | grep -Eo '[0-9]+' | tail -n 1)
  rate=$(jack_samplerate)
  slack=$(awk -v f="$frames" -v r="$rate" 'BEGIN { if (f > 0 && r > 0) printf "%.1f", 1000 * f / r }')
  if [ -z "$slack" ]; then
    fail "the JACK server's period is not known (buffer '$frames', rate '$rate')"
  else
    BY_NAME=1 TIMED_LOGS=1 run_case "Timed Pad" "" 60 "$work/timed.mid"
    [ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
    expect_whole_file
    python3 "$here/make_timed_midi.py" check-log "$work/timed.mid" "$work/sim.err" "$slack" "$work/send.err" \
      >"$work/times" ||
      fail "a message came too early, or not whole (one JACK period of $slack ms allowed): $(cat "$work/times")"
    sed "s/^/    /; 1i\\    arrival, one JACK period ($slack ms) allowed:" "$work/times"
  fi
fi

[ "$failures" -eq 0 ] || { echo "$failures end-to-end case(s) over $api failed"; exit 1; }
echo "all end-to-end cases over $api passed"
