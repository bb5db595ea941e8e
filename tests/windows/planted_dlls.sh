#!/usr/bin/env bash
# midiupdate.exe takes no DLL from its own folder: under Wine, DLLs that tell when they are loaded
# sit beside a copy of the program under system DLLs' names (winmm.dll: the stand-in winmm, which
# has every function the program calls; comctl32.dll, gdiplus.dll: a DLL with none), and Wine is
# told to prefer such a DLL to its own (n,b). The program asks for its version (nothing may be
# loaded at its start) and lists the ports (winmm is loaded then, and must be Wine's own).
# Usage: planted_dlls.sh BUILD_DIR WINE   (WINE: the loader of the build's width; WINEPREFIX set)
set -uo pipefail
build=$1
wine=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/markers"
cp "$build/cli/midiupdate.exe" "$work/program/"
cp "$build/tests/fakes/winmm_dll/winmm.dll" "$work/program/winmm.dll"
for name in comctl32 gdiplus; do cp "$build/tests/fakes/planted_dll/planted_dll.dll" "$work/program/$name.dll"; done

failed=0
for command in --version ports; do
  if ! out=$(cd "$work" && PLANTED_DLL_MARKERS=$work/markers WINEDLLOVERRIDES="winmm,comctl32,gdiplus=n,b" \
              timeout 120 "$wine" "$work/program/midiupdate.exe" $command 2>&1); then
    echo "FAIL planted DLLs: midiupdate.exe $command failed:"
    tr -d '\r' <<<"$out" | grep -v '^ALSA lib' | head -20
    failed=1
  fi
done
# Each marker holds the path the DLL was loaded from (a system folder's copy does not count).
for marker in "$work"/markers/*; do
  [ -e "$marker" ] || continue
  if grep -qiF '\program\' "$marker"; then
    echo "FAIL planted DLLs: midiupdate.exe loaded $(tr -d '\r' <"$marker")"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "midiupdate.exe ($(basename "$build")): no DLL taken from its own folder"
exit $failed
