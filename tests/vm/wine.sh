#!/usr/bin/env bash
# In the guest: the 32-bit Windows test programs under Wine (the 64-bit ones run on the host), and
# midiupdate.exe of both builds updating `midiupdate simulate` through Wine's own winmm, which
# carries MIDI over the ALSA sequencer, and taking no DLL from its own folder.
set -uo pipefail
. tests/vm/wine-prefix.sh
midiupdate=$PWD/build/ci/cli/midiupdate
work=$(mktemp -d)
simpid=""
cleanup() {
  [ -n "$simpid" ] && { kill -INT "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; }
  "$wineserver" -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
problems=()
fail() { problems+=("$*"); }
# After each case: its faults, and then once what both sides printed.
end_case() {
  [ ${#problems[@]} -eq 0 ] && return 0
  for p in "${problems[@]}"; do echo "FAIL ($case): $p"; done
  for f in send.out send.err sim.out sim.err; do echo "--- $f"; tr -d '\r' <"$work/$f" 2>/dev/null | quiet; done
  echo "--- send log (last lines)"; tr -d '\r' <"$work/send.log" 2>/dev/null | tail -n 40
  failures=$((failures + 1))
  problems=()
}
# Wine's sound driver complains of the missing sound card; that is noise here.
quiet() { grep -v -e '^ALSA lib' -e '^$'; }

prepare_prefix || exit 1
export DISPLAY=

echo "--- the 32-bit test programs"
for bits in 32; do
  build=build/windows
  wine=$wine32
  for test in "$build"/tests/*_tests.exe; do
    case=$bits-bit-$(basename "$test" .exe)
    start=$(date +%s)
    if out=$(timeout 600 "$wine" "$test" 2>&1); then
      echo "$case: $(tr -d '\r' <<<"$out" | grep -E '^\[  PASSED  \]') in $(( $(date +%s) - start )) s"
    else
      tr -d '\r' <<<"$out" | quiet | grep -E -A15 'Failure|FAILED|error' | head -80
      echo "FAIL ($case)"
      failures=$((failures + 1))
    fi
  done
done

# SysEx messages of SIZE bytes (F0, data, F7), COUNT of them, data byte FILL (octal).
sysex() {
  for _ in $(seq "$1"); do printf '\360'; head -c $(($2 - 2)) /dev/zero | tr '\0' "\\$3"; printf '\367'; done
}
# Starts the simulator for FILE as NAME and waits until Wine's winmm would see both its ports.
start_simulator() {
  "$midiupdate" simulate "$1" --name "$2" --api alsa --timeout 300 >"$work/sim.out" 2>"$work/sim.err" &
  simpid=$!
  for _ in $(seq 100); do
    [ "$("$midiupdate" ports --api alsa 2>/dev/null | grep -c "$2")" -ge 2 ] && return 0
    sleep 0.1
  done
  return 1
}
stop_simulator() {
  kill -INT "$simpid" 2>/dev/null
  wait "$simpid"
  simstatus=$?
  simpid=""
}
# run_send FILE NAME EXE ARGS...: simulator for FILE as NAME, then EXE send FILE ARGS.
run_send() {
  local file=$1 name=$2 exe=$3 wine start
  shift 3
  rm -f "$work"/send.* "$work"/sim.*
  wine=$([[ $exe == *windows-x64* ]] && echo "$wine64" || echo "$wine32")
  start=$(date +%s)
  if ! start_simulator "$file" "$name"; then
    fail "the simulator's ports never appeared"
    stop_simulator
    sendstatus=-1
    return 1
  fi
  timeout 300 "$wine" "$exe" send "$file" --yes --log "$work/send.log" "$@" >"$work/send.out" 2>"$work/send.err"
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
sysex 2 200 043 >"$work/c.syx"
"$midiupdate" pack -o "$work/multi.upd" --product "Wine Synth" --version 1.05 \
  --port-settings "win:x:name:Wine Synth:ideal:1024:max:3072:delay:20:unprepdelay:10" \
  --portion "$work/a.syx" --portion "$work/b.syx" --portion "$work/c.syx" >/dev/null

echo "--- midiupdate.exe through Wine's winmm over ALSA"
for bits in 32 64; do
  exe=$PWD/build/windows$([ $bits = 64 ] && echo -x64)/cli/midiupdate.exe
  wine=$([ $bits = 64 ] && echo "$wine64" || echo "$wine32")
  # Listing the ports loads Wine's MIDI driver, whose shutdown must not change the exit status.
  case="$bits-bit ports"
  rm -f "$work"/send.* "$work"/sim.*
  start_simulator "$work/multi.upd" "Wine Synth" || fail "the simulator's ports never appeared"
  timeout 120 "$wine" "$exe" ports >"$work/send.out" 2>"$work/send.err"
  status=$?
  stop_simulator
  [ "$status" -eq 0 ] || fail "ports exit $status, expected 0"
  tr -d '\r' <"$work/send.out" | grep -qx "  #0  'Wine Synth - Wine Synth'" || fail "the simulator's port is not listed first"
  end_case

  case="$bits-bit update file, three portions"
  run_send "$work/multi.upd" "Wine Synth" "$exe"
  [ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
  grep -q "The 'Wine Synth' was updated sucessfully to version 1.05." "$work/send.out" || fail "no success verdict"
  expect_whole_file
  end_case

  case="$bits-bit raw SysEx file with --port"
  run_send "$work/b.syx" "Raw Synth" "$exe" --port "Raw Synth"
  [ "$sendstatus" -eq 0 ] || fail "send exit $sendstatus, expected 0"
  expect_whole_file
  end_case
done

echo "--- midiupdate.exe takes no DLL from its own folder"
for bits in 32 64; do
  build=build/windows$([ $bits = 64 ] && echo -x64)
  wine=$([ $bits = 64 ] && echo "$wine64" || echo "$wine32")
  bash tests/windows/planted_dlls.sh "$build" "$wine" || { echo "FAIL ($bits-bit planted DLLs)"; failures=$((failures + 1)); }
done

[ "$failures" -eq 0 ] || { echo "$failures Wine case(s) failed"; exit 1; }
echo "all Wine cases passed"
