# The paths a user walks after the first update (sourced by window_tests.sh): files dropped from
# a file manager, a port choice cancelled, a drop while an update runs, a second update with a
# preparation message and a failure, a damaged file found at start-up, and Ctrl held at start.

# A second instrument's update: two portions, so the preparation message comes between them.
"$midiupdate" pack -o "$work/other.upd" --product "Other Synth" --version 1.10 \
  --port-settings "win:test:name:Other Synth MIDI:ideal:512:max:1024:delay:20:unprepdelay:10" \
  --portion "$work/portion.syx@0" --portion "$work/portion.syx@0" >/dev/null

# The window's rows, as ui_driver printed them in file $1: the bar's position and the status line.
bar_of() { sed -n 's/^msctls_progress32: //p' "$1"; }
status_of() { sed -n '/^msctls_progress32: /{n;s/^Static: //p}' "$1"; }

echo "--- drops: a cancelled port choice, three files at once, a drop during an update, a second update"
case_dir=$work/drops && mkdir -p "$case_dir"
cp "$work/portion.syx" "$case_dir/raw firmware.syx"
cp "$work/good.upd" "$case_dir/Test Synth 2.01.upd"
cp "$work/other.upd" "$case_dir/Other Synth 1.10.upd"
cp "$work/cut.upd" "$case_dir/cut.upd"
mkdir "$case_dir/start"   # the working directory holds no update file
saved_overrides=$WINEDLLOVERRIDES
# The first instrument installs for a while (the drop during its update comes then); the second
# reports a failure for each portion.
export TEST_WINMM_DEVICE="Test Synth MIDI;Other Synth MIDI" TEST_WINMM_REPORT="$case_dir/device-report"
export TEST_WINMM_UPDATE="$case_dir/Test Synth 2.01.upd;$case_dir/Other Synth 1.10.upd"
export TEST_WINMM_BEHAVIOUR="status=install:$((8 * patience));status=fail"
export WINEDLLOVERRIDES="winmm=n;$WINEDLLOVERRIDES"
start_program "$case_dir/start"
unset TEST_WINMM_DEVICE TEST_WINMM_UPDATE TEST_WINMM_BEHAVIOUR TEST_WINMM_REPORT
export WINEDLLOVERRIDES=$saved_overrides

drops() {
  driver main >/dev/null || { fail "drops: no main window"; return; }
  # A raw SysEx file, and no port chosen: the run stops before anything is sent.
  [ "$(drop_on_window "$case_dir/raw firmware.syx")" = dropped ] || { fail "drops: the raw file was not taken"; return; }
  driver dialog "Select a MIDI port" >"$case_dir/choice" || { fail "drops: no port choice"; return; }
  driver click "Select a MIDI port" Cancel || fail "drops: Cancel on the port choice"
  if driver dialog "MIDI Updater" >"$case_dir/canceled"; then
    expect_line "$case_dir/canceled" 'Static: The update failed for the following reason:\n\nUpdate canceled' "drops (cancel)"
    driver click "MIDI Updater" OK || fail "drops: OK on the cancel box"
    driver gone "MIDI Updater" 10000 || fail "drops: the cancel box stays"
  else
    fail "drops: no box after the cancelled port choice"
  fi

  # Three files at once: the first is taken, the others are not looked at.
  [ "$(drop_on_window "$case_dir/Test Synth 2.01.upd" "$case_dir/Other Synth 1.10.upd" "$case_dir/cut.upd")" = dropped ] ||
    { fail "drops: three files were not taken after the cancel"; return; }
  driver dialog "Important message about update" >"$case_dir/message" || { fail "drops: no message of the first file"; return; }
  # Nor is a file dropped while the message holds the start (it would start a second update).
  local answer
  answer=$(drop_on_window "$case_dir/Other Synth 1.10.upd") || true
  [ "$answer" = refused ] || fail "drops: a drop while the message box was open was not refused ($answer)"
  driver click "Important message about update" OK || fail "drops: OK on the message"
  local seen=no
  for _ in $(seq 100); do
    driver main 2000 >"$case_dir/first-run" || break
    case $(status_of "$case_dir/first-run") in " Updating: "*) seen=yes; break ;; esac
    sleep 0.1
  done
  [ "$seen" = yes ] || { fail "drops: the first update never showed its progress"; cat "$case_dir/first-run"; return; }
  # While it runs (the instrument is still installing), a drop is refused.
  answer=$(drop_on_window "$case_dir/Other Synth 1.10.upd") || true
  [ "$answer" = refused ] || fail "drops: a drop during the update was not refused ($answer)"
  if driver dialog "MIDI Updater" 60000 >"$case_dir/first-done"; then
    expect_line "$case_dir/first-done" "Static: The 'Test Synth' was updated sucessfully to version 2.01." "drops (first)"
    driver click "MIDI Updater" OK || fail "drops: OK on the first completion box"
    driver gone "MIDI Updater" 10000 || fail "drops: the first completion box stays"
  else
    fail "drops: the first update never completed"; return
  fi
  driver main >"$case_dir/first-after" || true
  [ "$(bar_of "$case_dir/first-after")" = 100 ] || fail "drops: the bar is not full after the first update"

  # A second update: bar and status start again; the preparation message holds the run between
  # the portions; the instrument's failure is the verdict.
  [ "$(drop_on_window "$case_dir/Other Synth 1.10.upd")" = dropped ] || { fail "drops: the second file was not taken"; return; }
  if driver dialog "Important" 60000 >"$case_dir/preparation"; then
    driver main >"$case_dir/held" || true
    expect_line "$case_dir/preparation" 'Static: Preparing your update...\n\n1. Please connect your device via USB.\n2. Do not disconnect your device until the update is complete.' "drops (preparation)"
    expect_line "$case_dir/held" "Static:  Product: 'Other Synth' 	Firmware version: 1.10" "drops (second)"
    local bar
    bar=$(bar_of "$case_dir/held")
    [ "${bar:-100}" -lt 100 ] || fail "drops: the bar did not start again for the second update ($bar)"
    case $(status_of "$case_dir/held") in
      *Completed:* | *"chunk #2"*) fail "drops: the run went on behind the preparation message: $(status_of "$case_dir/held")" ;;
    esac
    driver click "Important" OK || fail "drops: OK on the preparation message"
  else
    fail "drops: no preparation message between the portions"; return
  fi
  if driver dialog "MIDI Updater" 60000 >"$case_dir/second-done"; then
    expect_line "$case_dir/second-done" 'Static: There was an error sending the update file.\nPlease restart the device and try again.' "drops (failure)"
    driver main >"$case_dir/second-after" || true
    expect_line "$case_dir/second-after" "Static:  Completed: There was an error sending the update file. Please restart the device and try again." "drops (failure)"
    driver click "MIDI Updater" OK || fail "drops: OK on the failure box"
    driver gone "MIDI Updater" 10000 || fail "drops: the failure box stays"
  else
    fail "drops: the second update never completed"
  fi
}
drops
driver close || fail "drops: close"
wait_program
[ "$status" -eq 0 ] || fail "drops: exit status $status"
if [ -f "$case_dir/device-report" ]; then
  # One section per instrument: the first got its one portion, the second both of its portions.
  report=$(cat "$case_dir/device-report")
  [ "$(grep -c '^all received: yes$' <<<"$report")" -eq 2 ] || fail "drops: not every byte reached the instruments"
  grep -qx "portions completed: 1 of 1" <<<"$report" && grep -qx "portions completed: 2 of 2" <<<"$report" ||
    fail "drops: the instruments saw other portions:"$'\n'"$report"
else
  fail "drops: the instruments wrote no report"
fi

echo "--- a damaged update file found in the working directory at start-up"
case_dir=$work/damaged-found && mkdir -p "$case_dir"
cp "$work/cut.upd" "$case_dir/Test Synth 2.01.upd"
start_program "$case_dir"
truncated_file_refused damaged-found
wait_program
[ "$status" -eq 0 ] || fail "damaged-found: exit status $status"

echo "--- Ctrl held at start: the console opens and the working directory is not searched"
case_dir=$work/console && mkdir -p "$case_dir"
cp "$work/good.upd" "$case_dir/Test Synth 2.01.upd"
# Straight to its file (through a pipe the line would wait in a buffer until the driver ends). The
# first console of a prefix takes long to come up under emulation: the key is held for a minute
# (times the patience) at most.
timeout $((100 * patience)) "$wine" "$app/ui_driver.exe" hold-control $((60000 * patience)) >"$case_dir/held" &
holder=$!
for _ in $(seq $((100 * patience))); do grep -q "^held" "$case_dir/held" && break; sleep 0.1; done
start_program "$case_dir"
holder_status=0
wait "$holder" || holder_status=$?
if [ "$holder_status" -eq 0 ]; then
  console=""
  for _ in $(seq $((100 * patience))); do
    console=$(xwininfo -root -children | grep -F '"conhost.exe"' | grep -F 'MidiUpdater.exe' || true)
    [ -n "$console" ] && break
    sleep 0.1
  done
  [ -n "$console" ] || fail "console: no console window opened"
  # A discovered file would be asked about before any later command: Help > About comes first.
  driver command 40005 || fail "console: About command"
  driver dialog About >/dev/null || fail "console: no About box"
  if driver dialog "Update Test Synth" 0 >/dev/null; then fail "console: the file in the working directory was offered"; fi
  driver main >"$case_dir/main" || true
  expect_line "$case_dir/main" "title: MIDI Updater" console
  driver click About OK || fail "console: OK on About"
  driver close || fail "console: close"
else
  fail "console: the main window never came while Ctrl was held"
fi
wait_program
[ "$status" -eq 0 ] || fail "console: exit status $status"
