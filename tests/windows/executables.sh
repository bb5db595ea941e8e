#!/usr/bin/env bash
# What Windows reads from the programs before it runs them: the manifest that asks for no
# elevation, the hardening flags of the PE header, the version record, and the DLLs it loads
# before the program's first instruction: only KnownDLLs, which Windows takes from the system
# folder whatever lies beside the program; and that first instruction is the entry point that
# takes the program's folder out of the DLL search for every DLL loaded later.
# Usage: executables.sh BUILD_DIR VERSION   (a 32-bit or 64-bit Windows build)
set -uo pipefail
build=$1
version=$2
failed=0
# DLLs that are KnownDLLs on every Windows the programs support, Vista to 11.
known_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll shell32.dll ole32.dll comdlg32.dll "
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
  # The import table's "DLL Name" lines (the delay-import table, read by the program itself at a
  # DLL's first call, follows under its own heading).
  imports=$(awk '/^The Import Tables/ { on = 1; next } /^The / { on = 0 } on && /DLL Name:/ { print tolower($3) }' <<<"$header")
  [ -n "$imports" ] || { echo "FAIL $name: no import table read"; failed=1; }
  for dll in $imports; do
    [[ $known_dlls == *" $dll "* ]] ||
      { echo "FAIL $name: imports $dll at start, which Windows may take from the program's folder"; failed=1; }
  done
  entry=$(sed -n 's/^AddressOfEntryPoint[[:space:]]*0*//p' <<<"$header")
  base=$(sed -n 's/^ImageBase[[:space:]]*0*//p' <<<"$header")
  start=$(x86_64-w64-mingw32-nm "$exe" | sed -n 's/^0*\([0-9a-f]*\) T _\{0,1\}MidiUpdateProgramStart$/\1/p')
  if [ -z "$start" ] || [ $((16#$entry + 16#$base)) -ne $((16#$start)) ]; then
    echo "FAIL $name: its entry point is not MidiUpdateProgramStart"; failed=1
  fi
  [ "$failed" -eq 0 ] && echo "$name: manifest (asInvoker), ${wants[*]}, version $version, imports only KnownDLLs ($(tr '\n' ' ' <<<"$imports" | sed 's/ $//')), DLL search narrowed at entry"
done
exit $failed
