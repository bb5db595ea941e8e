# One whole update through Wine's own winmm (sourced by window_tests.sh with WINDOW_TESTS_ALSA=1):
# no stand-in DLL and no override; Wine carries the MIDI over the ALSA sequencer to
# `midiupdate simulate`, which plays the device of the update file and checks every byte it gets
# against the file. Wine names the ports after the sequencer's (the port's name, or "Client -
# Port"); the program's search takes them by the start of the name.

echo "--- end to end through Wine's own winmm: an update to midiupdate simulate over ALSA"
case_dir=$work/wine-winmm && mkdir -p "$case_dir"
cp "$work/good.upd" "$case_dir/Test Synth 2.01.upd"
total=$(stat -c %s "$work/portion.syx")

if [ ! -e /dev/snd/seq ]; then
  fail "wine winmm: no ALSA sequencer (/dev/snd/seq)"
else
  # Named by the file's port name, as the program looks for it.
  "$midiupdate" simulate "$case_dir/Test Synth 2.01.upd" --api alsa --timeout 300 \
    >"$case_dir/sim.out" 2>"$case_dir/sim.err" &
  simulator=$!
  # Wine reads the sequencer's ports when the program first asks: both have to be there first.
  ports=0
  for _ in $(seq 150); do
    ports=$("$midiupdate" ports --api alsa 2>/dev/null | grep -cF "'Test Synth MIDI" || true)
    [ "$ports" -ge 2 ] && break
    kill -0 "$simulator" 2>/dev/null || break
    sleep 0.2
  done
  if [ "$ports" -lt 2 ]; then
    fail "wine winmm: the simulator's ports never appeared:"
    "$midiupdate" ports --api alsa 2>&1 | sed 's/^/    /'
    sed 's/^/    /' "$case_dir/sim.out" "$case_dir/sim.err"
  else
    start_program "$case_dir" "Test Synth 2.01.upd"
    if driver dialog "Important message about update" >"$case_dir/message"; then
      expect_line "$case_dir/message" 'Static: Keep the synth switched on.\n\nClick OK to start.' "wine winmm"
      driver click "Important message about update" OK || fail "wine winmm: OK on the message"
      if driver dialog "MIDI Updater" 60000 >"$case_dir/done"; then
        expect_line "$case_dir/done" "Static: The 'Test Synth' was updated sucessfully to version 2.01." "wine winmm"
        driver main >"$case_dir/after" || true
        expect_line "$case_dir/after" "msctls_progress32: 100" "wine winmm"
        driver click "MIDI Updater" OK || fail "wine winmm: OK on the completion box"
        driver gone "MIDI Updater" 10000 || fail "wine winmm: the completion box stays"
        driver close || fail "wine winmm: close"
      else
        fail "wine winmm: no completion box"
        driver main || true
      fi
    else
      fail "wine winmm: no message box before the update"
      driver main || true
    fi
    wait_program
    [ "$status" -eq 0 ] || fail "wine winmm: exit status $status"
    debug_lines "$case_dir" >"$case_dir/lines"
    # The program found the device's ports among Wine's, not some other port.
    grep -F "MIDI OUT port #" "$case_dir/lines" | grep -qF "'Test Synth MIDI" ||
      fail "wine winmm: Wine listed no output 'Test Synth MIDI...' to the program"
    expect_line "$case_dir/lines" "Completed: The 'Test Synth' was updated sucessfully to version 2.01." "wine winmm"
  fi

  # The simulator reports when it is stopped, as by Ctrl-C.
  kill -INT "$simulator" 2>/dev/null
  simstatus=0
  wait "$simulator" || simstatus=$?
  simulator=""
  if ! grep -qxF "Verdict: every byte arrived as the file says." "$case_dir/sim.out" ||
     ! grep -qE "^Received $total of $total bytes" "$case_dir/sim.out" || [ "$simstatus" -ne 0 ]; then
    fail "wine winmm: the device did not get every byte of the file (simulator exit $simstatus):"
    sed 's/^/    /' "$case_dir/sim.out" "$case_dir/sim.err"
  else
    echo "  the simulator's report:"
    sed -n '/^Received /,$s/^/    /p' "$case_dir/sim.out"
  fi
fi
