#!/usr/bin/env bash
# time-limit: 1500
# The Windows builds: the 32-bit program (i686, the product) and its 64-bit twin, both with
# warnings as errors. The test programs and midiupdate.exe then run under Wine, headless, in a
# prefix of their own under the build folder: the 32-bit ones where this machine can run 32-bit
# programs, otherwise the 64-bit ones.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64

scripts/build.sh windows
scripts/build.sh windows-x64

version=$(sed -n 's/^project(MidiUpdater VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
failed=0
for b in build/windows build/windows-x64; do
  bash tests/windows/executables.sh "$b" "$version" || failed=1
done

export WINEDEBUG=-all DISPLAY=
# Wine's sound back end complains on machines without sound cards; that is noise here.
quiet_wine() { "$@" 2> >(grep -v -e '^ALSA lib' -e '^$' >&2); }

# Can this machine run the 32-bit programs? Ask one of them to list its tests.
build=build/windows-x64
wine=/usr/lib/wine/wine64
export WINEPREFIX=$PWD/build/windows/wineprefix
if command -v wine >/dev/null &&
   timeout 120 wine build/windows/tests/base_tests.exe --gtest_list_tests >/dev/null 2>&1; then
  build=build/windows
  wine=wine
else
  export WINEPREFIX=$PWD/build/windows-x64/wineprefix
fi
echo "Running the $( [ "$build" = build/windows ] && echo 32-bit || echo 64-bit ) Windows programs under Wine ($wine)"
mkdir -p "$WINEPREFIX"

for test in "$build"/tests/*_tests.exe; do
  name=$(basename "$test")
  start=$(date +%s)
  if out=$(timeout 600 "$wine" "$test" 2>&1); then
    echo "$name: $(grep -E '^\[  PASSED  \]' <<<"$out") in $(( $(date +%s) - start )) s"
  else
    grep -v '^ALSA lib' <<<"$out" | grep -E -A15 'Failure|FAILED|error' | head -80
    echo "$name FAILED"
    failed=1
  fi
done

# The program itself: write an update file, describe it, list the ports.
work=$build/wine-check
rm -rf "$work" && mkdir -p "$work"
printf '\xf0\x7d\x01\x02\x03\xf7\xf0\x7d\x04\x05\xf7' >"$work/fw.syx"
exe=$build/cli/midiupdate.exe
quiet_wine "$wine" "$exe" pack -o "$work/fw.upd" --product "Wine Pad" --version 1.05 \
  --port-settings 'win:x:name:Wine Pad' --portion "$work/fw.syx"
info=$(quiet_wine "$wine" "$exe" info "$work/fw.upd" | tr -d '\r')
echo "$info"
grep -q '^Product:     Wine Pad$' <<<"$info" || { echo "midiupdate.exe info: wrong description"; failed=1; }
grep -q '^Port names:  "Wine Pad"$' <<<"$info" || { echo "midiupdate.exe info: wrong port names"; failed=1; }
if ports=$(quiet_wine "$wine" "$exe" ports | tr -d '\r'); then
  echo "$ports"
  grep -q -e '^No MIDI ports found (winmm)\.$' -e '^MIDI output ports (winmm):$' <<<"$ports" ||
    { echo "midiupdate.exe ports: unexpected output"; failed=1; }
else
  echo "midiupdate.exe ports failed"
  failed=1
fi
# No DLL from the program's own folder: the build that runs here (the 32-bit one also in the VM).
bash tests/windows/planted_dlls.sh "$build" "$wine" || failed=1
# Let the prefix's server go, so that no process outlives the stage.
"${wine%/*}/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
exit $failed
