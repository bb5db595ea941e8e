# Sourced by the end-to-end scripts: SysEx files, and `midiupdate simulate` as the device on a real
# MIDI system. Needs $midiupdate, $api, $work and a fail function.

# SysEx messages of SIZE bytes (F0, data, F7), COUNT of them, data byte FILL (octal).
sysex() {
  local count=$1 size=$2 fill=$3
  for _ in $(seq "$count"); do
    printf '\360'
    head -c $((size - 2)) /dev/zero | tr '\0' "\\$fill"
    printf '\367'
  done
}

# start_simulator FILE NAME [SIMULATE_ARGS...]: the simulator for FILE, its ports named NAME (or
# as the arguments say); waits until both its ports, the input and the output, are listed.
start_simulator() {
  local file=$1 name=$2
  shift 2
  "$midiupdate" simulate "$file" "$@" --timeout 300 --api "$api" >"$work/sim.out" 2>"$work/sim.err" &
  simpid=$!
  for _ in $(seq 100); do
    [ "$("$midiupdate" ports --api "$api" 2>/dev/null | grep -c "$name")" -ge 2 ] && return 0
    sleep 0.1
  done
  return 1
}

# Stops it as Ctrl-C would, so that it prints its report; leaves its exit status in simstatus.
stop_simulator() {
  kill -INT "$simpid" 2>/dev/null
  wait "$simpid"
  simstatus=$?
  simpid=""
}

expect_whole_file() {
  grep -q "Verdict: every byte arrived as the file says." "$work/sim.out" || fail "the simulator did not get every byte"
  grep -Eq "^Received ([0-9]+) of \1 bytes" "$work/sim.out" || fail "byte count differs"
  [ "$simstatus" -eq 0 ] || fail "simulator exit $simstatus"
}
