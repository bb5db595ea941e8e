#!/usr/bin/env bash
# Window tests of MidiUpdater.exe under Wine on a virtual X display: each case starts the program
# in a working directory of its own, reads what its windows show (through ui_driver.exe) and what
# it logs (the debugger output, which Wine prints with WINEDEBUG=+debugstr), presses buttons as a
# user would, and is bounded in time.
#
# Usage: window_tests.sh BUILD_DIR MIDIUPDATE SHOT_DIR
#   BUILD_DIR   a Windows build, 32-bit or 64-bit (MidiUpdater.exe, app_tests.exe, ui_driver.exe,
#               the stand-in tests/fakes/winmm_dll/winmm.dll for the end-to-end update, and
#               tests/fakes/planted_dll); the Wine loader of the same width runs it
#   MIDIUPDATE  the native midiupdate command, to write the update files (and, for the update
#               over ALSA, to play the device)
#   SHOT_DIR    where the screenshots go
# Environment:
#   WINDOW_TESTS_PREFIX  a Wine prefix made already, which runs programs of the build's width (a
#                        64-bit prefix runs 32-bit ones too); by default BUILD_DIR/wineprefix-app,
#                        made when missing
#   WINDOW_TESTS_ALSA=1  also one whole update through Wine's own winmm to `MIDIUPDATE simulate`
#                        over the ALSA sequencer (which has to be there)
#   WINDOW_TESTS_PATIENCE=N  every bound N times as long (default 1), for a slow machine such as
#                        an emulated one
set -euo pipefail

build=$(realpath "$1")
midiupdate=$(realpath "$2")
shots=$(realpath -m "$3")
app=$build/windows/app

# The machine a Windows program is built for, from its PE header: 014c (i386) or 8664 (x86-64).
pe_machine() {
  local header
  header=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  [ -n "$header" ] && od -An -t x2 -j $((header + 4)) -N 2 "$1" | tr -d ' '
}
case $(pe_machine "$app/MidiUpdater.exe" 2>/dev/null) in
  014c) wine=/usr/lib/wine/wine ;;
  8664) wine=/usr/lib/wine/wine64 ;;
  *) echo "window tests: $app/MidiUpdater.exe is neither a 32-bit nor a 64-bit Windows program" >&2; exit 1 ;;
esac
patience=${WINDOW_TESTS_PATIENCE:-1}
export WINEPREFIX=${WINDOW_TESTS_PREFIX:-$build/wineprefix-app} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$shots"

work=$(mktemp -d)
xvfb=""
simulator=""
cleanup() {
  [ -n "$simulator" ] && { kill -INT "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null; }
  WINEPREFIX=$WINEPREFIX timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null || true
  restore_wine_winmm
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] && echo "work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # FILE TEXT: the file holds a line with exactly this text
  grep -qxF -- "$2" "$1" || { fail "$3: no line '$2' in:"; sed 's/^/    /' "$1"; }
}
expect_text() {  # FILE TEXT: the file holds this text somewhere
  grep -qF -- "$2" "$1" || { fail "$3: no '$2' in:"; sed 's/^/    /' "$1"; }
}

# A virtual screen, and Wine drawing the window frames itself (there is no window manager).
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.2; done
export DISPLAY=:$(cat "$work/display")
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout $((180 * patience)) "$wine" wineboot -i >/dev/null 2>&1
fi
timeout $((60 * patience)) "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

# The programs take winmm.dll from the system folder only, never from their own: the stand-in
# winmm of the cases with virtual instruments (which set winmm=n) goes where Wine's own lies, the
# folder of the build's width (a 64-bit prefix keeps its 32-bit DLLs in syswow64). Wine's own is
# kept beside the prefix (so that a run killed halfway leaves it there) and put back for the cases
# through Wine's winmm and at the end; the files are replaced by renaming, never rewritten, as a
# program may still have them mapped.
system_dir=$WINEPREFIX/drive_c/windows/system32
if [ "$wine" = /usr/lib/wine/wine ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  system_dir=$WINEPREFIX/drive_c/windows/syswow64
fi
wine_winmm=$WINEPREFIX/wine-winmm-$(basename "$system_dir").dll
install_test_winmm() {
  if ! cmp -s "$build/tests/fakes/winmm_dll/winmm.dll" "$system_dir/winmm.dll"; then
    cp "$system_dir/winmm.dll" "$wine_winmm.new" && mv -f "$wine_winmm.new" "$wine_winmm" || return 1
  fi
  cp "$build/tests/fakes/winmm_dll/winmm.dll" "$system_dir/winmm.dll.new" &&
    mv -f "$system_dir/winmm.dll.new" "$system_dir/winmm.dll"
}
restore_wine_winmm() {
  [ -f "$wine_winmm" ] || return 0
  cp "$wine_winmm" "$system_dir/winmm.dll.new" && mv -f "$system_dir/winmm.dll.new" "$system_dir/winmm.dll"
}

# The driver prints through the Windows runtime, which ends lines with CR LF. Its waits (20 s
# unless given) are stretched by the patience.
driver() {
  local args=("$@")
  case $1 in
    main) args[1]=$(( ${2:-20000} * patience )) ;;
    dialog | gone) args[2]=$(( ${3:-20000} * patience )) ;;
  esac
  timeout $((100 * patience)) "$wine" "$app/ui_driver.exe" "${args[@]}" | tr -d '\r'
}

# Starts the program in directory $1 with the rest as its arguments; the log goes to $1/log.
start_program() {
  local dir=$1
  shift
  (cd "$dir" && WINEDEBUG=+debugstr exec timeout "${PROGRAM_LIMIT:-$((180 * patience))}" "$wine" "${program_exe:-$app/MidiUpdater.exe}" "$@" \
     >"$dir/stdout" 2>"$dir/log") &
  program=$!
}
# Waits for the program to end; its exit status is in $status.
wait_program() {
  status=0
  wait "$program" || status=$?
}
# The debugger output lines of a run, as the program wrote them.
debug_lines() { sed -n 's/^.*OutputDebugStringA "\(.*\)\\n"$/\1/p' "$1/log"; }
# Centre of the rectangle that ui_driver printed in file $1.
centre() {
  local l t r b
  read -r l t r b <<<"$(sed -n 's/^rect: //p' "$1")"
  echo "$(((l + r) / 2)) $(((t + b) / 2))"
}
# Whether two centres lie within a pixel of each other (halves are rounded).
same_centre() {
  local ax ay bx by
  read -r ax ay <<<"$1"
  read -r bx by <<<"$2"
  [ $((ax - bx)) -ge -1 ] && [ $((ax - bx)) -le 1 ] && [ $((ay - by)) -ge -1 ] && [ $((ay - by)) -le 1 ]
}
# Case $1 (its folder $case_dir): the program refuses a cut update file with the loader's sentence
# in the failure box, stays compact once the box is closed, and is closed.
truncated_file_refused() {
  if driver dialog "MIDI Updater" >"$case_dir/box"; then
    expect_line "$case_dir/box" 'Static: The update failed for the following reason:\n\nUpdate file was truncated. Did it download correctly?' "$1"
    expect_line "$case_dir/box" "Button: OK" "$1"
    driver click "MIDI Updater" OK || fail "$1: OK"
    driver gone "MIDI Updater" 10000 || fail "$1: the box stays"
    driver main >"$case_dir/main" || fail "$1: no main window after the box"
    expect_line "$case_dir/main" "client: 500 200" "$1 (stays compact)"
    driver close || fail "$1: close"
  else
    fail "$1: no failure box"
  fi
}
# Drags the main window, whose rectangle ui_driver printed in file $1, by its title bar by $2, $3
# pixels, as a user does (Wine runs its own move loop, which sends WM_MOVING), and waits until
# ui_driver (its output in file $4) sees the window there.
drag_title_bar() {
  local l t r b x y
  read -r l t r b <<<"$(sed -n 's/^rect: //p' "$1")"
  x=$((l + 60)) y=$((t + 10))   # on the caption's text, clear of its buttons
  xdotool mousemove "$x" "$y" mousedown 1 mousemove $((x + $2 / 2)) $((y + $3 / 2)) \
    mousemove $((x + $2)) $((y + $3)) mouseup 1
  for _ in $(seq 50); do
    driver main 2000 >"$4" || return 1
    [ "$(sed -n 's/^rect: //p' "$4")" = "$((l + $2)) $((t + $3)) $((r + $2)) $((b + $3))" ] && return 0
    sleep 0.2
  done
  return 1
}
# Drops files on the middle of the main window as a file manager does (over XDND, which Wine turns
# into WM_DROPFILES); prints "dropped" or "refused".
drop_on_window() {
  local centre_at
  driver main 2000 >"$work/drop-target" || { echo "no main window"; return 1; }
  read -r -a centre_at <<<"$(centre "$work/drop-target")"
  timeout $((30 * patience)) "$xdnd_drop" "${centre_at[0]}" "${centre_at[1]}" "$@"
}
# Screenshot of the area of the window whose rectangle ui_driver printed in file $1.
screenshot() {
  local l t r b
  read -r l t r b <<<"$(sed -n 's/^rect: //p' "$1")"
  import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "$2"
}

# The update files of the cases: one small valid update, and the same cut short.
for i in $(seq 32); do
  printf '\xf0\x7d\x01'; head -c 250 /dev/zero | tr '\0' 'A'; printf '\xf7'
done >"$work/portion.syx"
"$midiupdate" pack -o "$work/good.upd" --product "Test Synth" --version 2.01 \
  --message "Keep the synth switched on." \
  --port-settings "win:test:name:Test Synth MIDI:ideal:512:max:1024:delay:20:unprepdelay:10" \
  --portion "$work/portion.syx@0" >/dev/null
head -c 40 "$work/good.upd" >"$work/cut.upd"
# The same update with a picture of its own, which replaces the banner while it is shown.
/usr/bin/convert -size 500x200 xc:'#aa5500' -fill white -font DejaVu-Sans -pointsize 40 -annotate +20+110 'Test Synth 2.01' \
  -alpha off -depth 8 "$work/picture.png"
"$midiupdate" pack -o "$work/pictured.upd" --product "Test Synth" --version 2.01 \
  --image "$work/picture.png" --portion "$work/portion.syx@0" >/dev/null
# And with a picture whose header claims 16000 x 16000 pixels (gigabytes to decode).
cp "$work/picture.png" "$work/huge.png"
printf '\x00\x00\x3e\x80\x00\x00\x3e\x80' | dd of="$work/huge.png" bs=1 seek=16 conv=notrunc status=none
"$midiupdate" pack -o "$work/huge-picture.upd" --product "Test Synth" --version 2.01 \
  --image "$work/huge.png" --portion "$work/portion.syx@0" >/dev/null

# The stand-in file manager for the drop cases.
xdnd_drop=$work/xdnd_drop
cc -O2 -o "$xdnd_drop" "$(dirname "$0")/driver/xdnd_drop.c" -lX11 || fail "the drop tool did not build"

echo "--- test program of the window logic and the picture decoding"
timeout $((120 * patience)) "$wine" "$app/app_tests.exe" --gtest_brief=1 || fail "app_tests.exe"

echo "--- no file: the compact banner window"
case_dir=$work/compact && mkdir -p "$case_dir"
start_program "$case_dir"
if driver main >"$case_dir/main"; then
  expect_line "$case_dir/main" "title: MIDI Updater" compact
  expect_line "$case_dir/main" "client: 500 200" compact  # the banner is the whole client area
  expect_line "$case_dir/main" "msctls_progress32: 0" compact
  expect_line "$case_dir/main" "Static: Waiting for update file." compact
  expect_line "$case_dir/main" "Static: No update file has been loaded yet." compact
  sleep 1   # only for the picture: the banner is surely painted in it
  screenshot "$case_dir/main" "$shots/compact-window.png"
  # Moved by its title bar, the window keeps its size; Help > About centres the box on the window,
  # wherever it is.
  drag_title_bar "$case_dir/main" -150 -120 "$case_dir/moved" || fail "compact: the title bar drag did not move the window"
  expect_line "$case_dir/moved" "client: 500 200" "compact (moved)"
  driver command 40005 || fail "compact: About command"
  if driver dialog About >"$case_dir/about"; then
    expect_line "$case_dir/about" 'Static: MIDI Updater\nVersion 1.14 (beta)\n\nCopyright (C) 2026 the MIDI Updater developers. All rights reserved.' about
    if ! same_centre "$(centre "$case_dir/about")" "$(centre "$case_dir/moved")"; then
      fail "about: box centred at $(centre "$case_dir/about"), window at $(centre "$case_dir/moved")"
    fi
    driver click About OK || fail "about: OK"
    driver gone About 10000 || fail "about: the box stays"
  else
    fail "about: no box"
  fi
  driver close || fail "compact: close"
else
  fail "compact: no main window"
fi
wait_program
[ "$status" -eq 0 ] || fail "compact: exit status $status"
debug_lines "$case_dir" >"$case_dir/lines"
expect_line "$case_dir/lines" "ListInterfaces output..." compact
expect_line "$case_dir/lines" "ListInterfaces input..." compact

echo "--- a corrupt file on the command line: the failure box with the loader's text"
case_dir=$work/corrupt && mkdir -p "$case_dir"
cp "$work/cut.upd" "$case_dir/broken update.upd"
start_program "$case_dir" "broken update.upd"   # Wine quotes it: the tail is "broken update.upd"
truncated_file_refused corrupt
wait_program
debug_lines "$case_dir" >"$case_dir/lines"
expect_line "$case_dir/lines" "Thread caught exception: Update file was truncated. Did it download correctly?" corrupt

echo "--- a raw SysEx file and no MIDI output device: a clear failure instead of a port choice"
case_dir=$work/rawsysex && mkdir -p "$case_dir"
cp "$work/portion.syx" "$case_dir/raw firmware.syx"
# Without Wine's ALSA driver there is surely no output, even where a sequencer lists its through port.
saved_overrides=$WINEDLLOVERRIDES
export WINEDLLOVERRIDES="winealsa.drv=d;$WINEDLLOVERRIDES"
start_program "$case_dir" "raw firmware.syx"
export WINEDLLOVERRIDES=$saved_overrides
if driver dialog "MIDI Updater" >"$case_dir/box"; then
  expect_line "$case_dir/box" 'Static: The update failed for the following reason:\n\nNo MIDI output port was found. Connect the device and try again.' rawsysex
  driver click "MIDI Updater" OK || fail "rawsysex: OK"
  driver close || fail "rawsysex: close"
else
  fail "rawsysex: no failure box"
fi
wait_program

echo "--- an update file in the working directory: the confirmation dialog; Close ends the program"
case_dir=$work/discovery && mkdir -p "$case_dir"
cp "$work/pictured.upd" "$case_dir/Test Synth 2.01.upd"
start_program "$case_dir"
if driver dialog "Update Test Synth" >"$case_dir/dialog"; then
  # The file's picture is painted instead of the banner (whose keys are white down there).
  driver main >"$case_dir/main" || true
  read -r l t r b <<<"$(sed -n 's/^rect: //p' "$case_dir/main")"
  for _ in $(seq 50); do   # until it is painted, bounded
    colour=$(import -window root -crop "1x1+$((l + 12))+$((b - 12))" +repage -depth 8 -format '%[hex:p{0,0}]' info:)
    [ "${colour:0:6}" = AA5500 ] && break
    sleep 0.2
  done
  [ "${colour:0:6}" = AA5500 ] || fail "discovery: the picture is not painted (pixel $colour)"
  expect_line "$case_dir/dialog" "Static: Do you want to update your Test Synth to version 2.01 now?" discovery
  expect_line "$case_dir/dialog" "Button: Update Now" discovery
  expect_line "$case_dir/dialog" "Button: Close" discovery
  grep -q "emergency" "$case_dir/dialog" && fail "discovery: the emergency option is offered"
  driver main >"$case_dir/main" || fail "discovery: no main window"
  expect_line "$case_dir/main" "title: Update Test Synth" discovery
  expect_line "$case_dir/main" "$(printf "Static:  Product: 'Test Synth' \tFirmware version: 2.01")" discovery
  driver click "Update Test Synth" Close || fail "discovery: Close"
else
  fail "discovery: no confirmation dialog"
fi
wait_program
[ "$status" -eq 0 ] || fail "discovery: exit status $status after Close"

echo "--- an update file found at start-up with a picture too large to decode: the question all the same"
case_dir=$work/huge-picture && mkdir -p "$case_dir"
cp "$work/huge-picture.upd" "$case_dir/Test Synth 2.01.upd"
start_program "$case_dir"
if driver dialog "Update Test Synth" >"$case_dir/dialog"; then
  expect_line "$case_dir/dialog" "Static: Do you want to update your Test Synth to version 2.01 now?" huge-picture
  driver click "Update Test Synth" Close || fail "huge-picture: Close"
else
  fail "huge-picture: no confirmation dialog"
fi
wait_program
[ "$status" -eq 0 ] || fail "huge-picture: exit status $status after Close"
debug_lines "$case_dir" >"$case_dir/lines"
expect_line "$case_dir/lines" "The update file's picture is not shown: the PNG picture is 16000 x 16000 pixels (at most 4096 x 4096 are shown)" huge-picture

if [ -f "$build/tests/fakes/winmm_dll/winmm.dll" ] && [ -f "$build/tests/fakes/planted_dll/planted_dll.dll" ]; then
  . "$(dirname "$0")/planted_dll_case.sh"
  install_test_winmm || fail "the stand-in winmm.dll could not be put in $system_dir"
  . "$(dirname "$0")/end_to_end_case.sh"
else
  fail "end-to-end: no simulated winmm.dll or planted DLL was built"
fi
. "$(dirname "$0")/user_cases.sh"
restore_wine_winmm || fail "Wine's own winmm.dll could not be put back in $system_dir"
if [ "${WINDOW_TESTS_ALSA:-}" = 1 ]; then
  . "$(dirname "$0")/wine_winmm_case.sh"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures window test failure(s)"
  exit 1
fi
echo "All window tests passed."
