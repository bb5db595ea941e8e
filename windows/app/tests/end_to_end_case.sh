# One whole update through the real program under Wine (sourced by window_tests.sh): a virtual
# instrument answers behind the stand-in winmm.dll, which lies in the prefix's system folder
# (install_test_winmm), and the update runs from the command line through the "Important message
# about update" box to the completion box.

echo "--- end to end: an update from the window to the completion box"
case_dir=$work/end-to-end && mkdir -p "$case_dir"
cp "$work/good.upd" "$case_dir/Test Synth 2.01.upd"
total=$(stat -c %s "$work/portion.syx")
saved_overrides=$WINEDLLOVERRIDES
export TEST_WINMM_DEVICE="Test Synth MIDI" TEST_WINMM_UPDATE="$case_dir/Test Synth 2.01.upd"
# The instrument reports "installing" for a few seconds before it accepts (half a second each,
# longer on a slow machine): the window test has time to try File > Exit while the update surely
# runs.
export TEST_WINMM_BEHAVIOUR="status=install:$((8 * patience))" TEST_WINMM_REPORT="$case_dir/device-report"
export WINEDLLOVERRIDES="winmm=n;$WINEDLLOVERRIDES"
start_program "$case_dir" "Test Synth 2.01.upd"
unset TEST_WINMM_DEVICE TEST_WINMM_UPDATE TEST_WINMM_BEHAVIOUR TEST_WINMM_REPORT
export WINEDLLOVERRIDES=$saved_overrides

if driver dialog "Important message about update" >"$case_dir/message"; then
  expect_line "$case_dir/message" 'Static: Keep the synth switched on.\n\nClick OK to start.' end-to-end
  driver click "Important message about update" OK || fail "end-to-end: OK on the message"
  # File > Exit, the close box (WM_CLOSE) and a log-off are refused while the update runs: the
  # About box, asked for after them, shows that the window had handled them and is still there.
  # Asked at once after the message, while the instrument surely has data to take and statuses to
  # give (its installing phase is stretched by the patience); reading the window first took long
  # enough on a slow machine for the update to end before the Exit came.
  driver command 8 || fail "end-to-end: Exit command"
  driver close || fail "end-to-end: close during the update"
  driver end-session >"$case_dir/end-session" || fail "end-to-end: no answer about the end of the session"
  expect_line "$case_dir/end-session" "end session: 0" "end-to-end (log-off during the update)"
  driver command 40005 || fail "end-to-end: About command"
  if driver dialog About >/dev/null; then
    driver click About OK || fail "end-to-end: OK on About"
  else
    fail "end-to-end: File > Exit or the close box closed the window during the update"
  fi
  # A picture of the window while the bar moves.
  shot=no
  for _ in $(seq 100); do
    driver main 2000 >"$case_dir/main" || break
    position=$(sed -n 's/^msctls_progress32: //p' "$case_dir/main")
    if [ "${position:-0}" -ge 30 ] && [ "${position:-0}" -le 90 ] && grep -q '^Static:  Updating: ' "$case_dir/main"; then
      screenshot "$case_dir/main" "$shots/updating-window.png"
      shot=yes
      break
    fi
    # Once the update has finished, the bar moves no more.
    grep -q '^Static:  Completed: ' "$case_dir/main" && break
    sleep 0.1
  done
  # Only the picture depends on catching the bar mid-way: a slow machine may read the window too
  # seldom for that, which is no fault of the program.
  [ "$shot" = yes ] || echo "  end-to-end: no picture of the bar mid-way (the window was read too seldom)"
  # Expanded by three rows of equal height below the 500 x 200 banner.
  read -r width height <<<"$(sed -n 's/^client: //p' "$case_dir/main")"
  if [ "$width" -ne 500 ] || [ "$height" -le 200 ] || [ $(((height - 200) % 3)) -ne 0 ]; then
    fail "end-to-end: expanded client area is ${width}x$height"
  fi
  expect_line "$case_dir/main" "Static:  Product: 'Test Synth' 	Firmware version: 2.01" end-to-end
  if driver dialog "MIDI Updater" 60000 >"$case_dir/done"; then
    expect_line "$case_dir/done" "Static: The 'Test Synth' was updated sucessfully to version 2.01." end-to-end
    driver main >"$case_dir/after" || true
    expect_line "$case_dir/after" "msctls_progress32: 100" end-to-end
    expect_line "$case_dir/after" "Static:  Completed: The 'Test Synth' was updated sucessfully to version 2.01." end-to-end
    driver click "MIDI Updater" OK || fail "end-to-end: OK on the completion box"
    driver gone "MIDI Updater" 10000 || fail "end-to-end: the completion box stays"
    # Once the update is over, the session may end again.
    driver end-session >"$case_dir/end-session-after" || fail "end-to-end: no answer about the end of the session after"
    expect_line "$case_dir/end-session-after" "end session: 1" "end-to-end (log-off after the update)"
    driver close || fail "end-to-end: close"
  else
    fail "end-to-end: no completion box"
    driver main || true
  fi
else
  fail "end-to-end: no message box before the update"
fi
wait_program
[ "$status" -eq 0 ] || fail "end-to-end: exit status $status"
debug_lines "$case_dir" >"$case_dir/lines"
for line in "Product name:   Test Synth" "Message:        Keep the synth switched on." \
            "Image:          0 bytes" "Port names:     1" "SysEx portions: 1" \
            "Total SysEx:    $total bytes" "Completed: The 'Test Synth' was updated sucessfully to version 2.01."; do
  expect_line "$case_dir/lines" "$line" end-to-end
done
if [ -f "$case_dir/device-report" ]; then
  expect_line "$case_dir/device-report" "all received: yes" "end-to-end device"
  expect_line "$case_dir/device-report" "portions corrupt: 0" "end-to-end device"
  expect_line "$case_dir/device-report" "portions completed: 1 of 1" "end-to-end device"
else
  fail "end-to-end: the instrument wrote no report"
fi

echo "--- end to end: a raw SysEx file goes to the port chosen in \"Select a MIDI port\""
case_dir=$work/raw-end-to-end && mkdir -p "$case_dir"
cp "$work/portion.syx" "$case_dir/raw firmware.syx"
saved_overrides=$WINEDLLOVERRIDES
# A second port whose name begins with the first's: the first listed is still the one selected.
export TEST_WINMM_DEVICE="Bench Synth" TEST_WINMM_UPDATE="$case_dir/raw firmware.syx" TEST_WINMM_MORE_OUTPUTS="Bench Synth 2"
export TEST_WINMM_BEHAVIOUR="status=accept" TEST_WINMM_REPORT="$case_dir/device-report"
export WINEDLLOVERRIDES="winmm=n;$WINEDLLOVERRIDES"
start_program "$case_dir" "raw firmware.syx"
unset TEST_WINMM_DEVICE TEST_WINMM_UPDATE TEST_WINMM_BEHAVIOUR TEST_WINMM_REPORT TEST_WINMM_MORE_OUTPUTS
export WINEDLLOVERRIDES=$saved_overrides

if driver dialog "Select a MIDI port" >"$case_dir/choice"; then
  expect_line "$case_dir/choice" "Static: Please select a MIDI port" raw
  expect_line "$case_dir/choice" "ComboBox: Bench Synth" raw   # the first device is selected
  driver click "Select a MIDI port" OK || fail "raw: OK on the port choice"
  if driver dialog "Important message about update" >"$case_dir/message"; then
    driver click "Important message about update" OK || fail "raw: OK on the message"
  else
    fail "raw: no message box (a raw file carries the standard message)"
  fi
  if driver dialog "MIDI Updater" 60000 >"$case_dir/done"; then
    expect_text "$case_dir/done" "sucessfully" raw
    driver click "MIDI Updater" OK || fail "raw: OK on the completion box"
    driver gone "MIDI Updater" 10000 || fail "raw: the completion box stays"
    driver close || fail "raw: close"
  else
    fail "raw: no completion box"
  fi
else
  fail "raw: no port choice"
fi
wait_program
[ "$status" -eq 0 ] || fail "raw: exit status $status"
if [ -f "$case_dir/device-report" ]; then
  expect_line "$case_dir/device-report" "all received: yes" "raw device"
  expect_line "$case_dir/device-report" "portions corrupt: 0" "raw device"
else
  fail "raw: the instrument wrote no report"
fi
