# MidiUpdater.exe takes no DLL from its own folder (sourced by window_tests.sh): DLLs that tell
# when they are loaded lie beside a copy of the program under the names of the system DLLs it uses
# (winmm.dll: the stand-in winmm, which has every function the program calls; comctl32.dll,
# gdiplus.dll: a DLL with none), and Wine is told to prefer such a DLL to its own (n,b). The
# program starts as usual, lists the MIDI ports (so winmm is surely loaded) and is closed; no DLL
# beside it may have been loaded.

echo "--- planted DLLs beside the program: none is loaded"
case_dir=$work/planted && mkdir -p "$case_dir/program" "$case_dir/markers"
cp "$app/MidiUpdater.exe" "$build/tests/fakes/winmm_dll/winmm.dll" "$case_dir/program/"
for name in comctl32 gdiplus; do
  cp "$build/tests/fakes/planted_dll/planted_dll.dll" "$case_dir/program/$name.dll"
done
saved_overrides=$WINEDLLOVERRIDES
export PLANTED_DLL_MARKERS=$case_dir/markers WINEDLLOVERRIDES="winmm,comctl32,gdiplus=n,b;$WINEDLLOVERRIDES"
program_exe=$case_dir/program/MidiUpdater.exe
start_program "$case_dir"
unset PLANTED_DLL_MARKERS program_exe
export WINEDLLOVERRIDES=$saved_overrides
if driver main >"$case_dir/main"; then
  expect_line "$case_dir/main" "Static: Waiting for update file." planted
  driver close || fail "planted: close"
else
  fail "planted: no main window"
fi
wait_program
[ "$status" -eq 0 ] || fail "planted: exit status $status"
debug_lines "$case_dir" >"$case_dir/lines"
expect_line "$case_dir/lines" "ListInterfaces output..." planted
# Each marker holds the path the DLL was loaded from (a system folder's copy does not count).
for marker in "$case_dir"/markers/*; do
  [ -e "$marker" ] || continue
  if grep -qiF '\program\' "$marker"; then
    fail "planted: MidiUpdater.exe loaded $(tr -d '\r' <"$marker")"
  fi
done
