#!/usr/bin/env bash
# What Windows reads from the programs before it runs them: the manifest that asks for no
# elevation, the hardening flags of the PE header, and the version record.
# Usage: executables.sh BUILD_DIR VERSION   (a 32-bit or 64-bit Windows build)
set -uo pipefail
build=$1
version=$2
failed=0
for exe in "$build/windows/app/MidiUpdater.exe" "$build/cli/midiupdate.exe"; do
  name=$(basename "$exe")
  [ -f "$exe" ] || { echo "FAIL $name: not built"; failed=1; continue; }
  header=$(x86_64-w64-mingw32-objdump -p "$exe")
  wants=(DYNAMIC_BASE NX_COMPAT)
  if grep -q '^Magic.*20b' <<<"$header"; then wants+=(HIGH_ENTROPY_VA); else wants+=("large address aware"); fi
  for flag in "${wants[@]}"; do
    grep -q "$flag" <<<"$header" || { echo "FAIL $name: no $flag in its header"; failed=1; }
  done
  text=$(strings "$exe")
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$text" ||
    { echo "FAIL $name: no manifest asking for asInvoker"; failed=1; }
  grep -q 'supportedOS Id=' <<<"$text" || { echo "FAIL $name: the manifest names no supported Windows"; failed=1; }
  record=$(strings -el "$exe")
  grep -A1 -x 'FileVersion' <<<"$record" | grep -qx "$version" ||
    { echo "FAIL $name: the version record does not say $version"; failed=1; }
  grep -A1 -x 'ProductName' <<<"$record" | grep -qx 'MIDI Updater' ||
    { echo "FAIL $name: the version record names no product"; failed=1; }
  [ "$failed" -eq 0 ] && echo "$name: manifest (asInvoker), ${wants[*]}, version $version"
done
exit $failed
