#!/usr/bin/env bash
# time-limit: 1500
# The Windows program: its screen-free window logic natively, the 32-bit MidiUpdater.exe (the
# product), and the 64-bit twin of the same sources under Wine on a virtual X display (this
# machine runs no 32-bit programs): the test program, the window tests and one whole update.
# SCREENSHOTS=docs also refreshes the screenshots in docs/.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 xvfb xdotool \
  x11-utils imagemagick libx11-dev

# Configures a preset (or a source folder) and builds the given targets, quiet unless it fails.
build() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then cat "$log"; rm -f "$log"; return 1; fi
  rm -f "$log"
}

echo "--- window logic, natively"
build cmake -S windows/app -B build/app-native -DCMAKE_BUILD_TYPE=Debug
build cmake --build build/app-native -j 2
ctest --test-dir build/app-native --output-on-failure | tail -n 3

echo "--- MidiUpdater.exe, 32-bit (with midiupdate.exe, which the Windows package carries beside it)"
build cmake --preset windows
build cmake --build --preset windows -j 2 --target MidiUpdater midiupdate
i686-w64-mingw32-objdump -f build/windows/windows/app/MidiUpdater.exe | grep -F "file format pei-i386"

echo "--- 64-bit twin and its test programs"
build cmake --preset windows-x64
build cmake --build --preset windows-x64 -j 2 --target MidiUpdater app_tests ui_driver test_winmm \
  planted_dll

echo "--- the native midiupdate command, to write test update files"
build cmake --preset ci
build cmake --build --preset ci -j 2 --target midiupdate

shots=build/windows-x64/screenshots
bash windows/app/tests/window_tests.sh build/windows-x64 build/ci/cli/midiupdate "$shots"
if [ "${SCREENSHOTS:-}" = docs ]; then cp "$shots"/*.png docs/; fi
