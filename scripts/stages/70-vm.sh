#!/usr/bin/env bash
# time-limit: 2400
# Real MIDI stacks in a virtual machine (this machine's kernel runs no 32-bit programs and has no
# sound devices): QEMU boots Debian's kernel over this machine's own files, with a real ALSA
# sequencer. There, `midiupdate` updates `midiupdate simulate` over ALSA, the 32-bit and 64-bit
# Windows test programs run under Wine, midiupdate.exe of both builds updates the simulator
# through Wine's own winmm, MidiUpdater.exe runs its window tests on a virtual display, and the
# page updates the simulator through Chromium's own Web MIDI; and `midiupdate` is judged by ALSA's
# own tools (amidi over snd-virmidi). VM_CASES="alsa wine window browser amidi" picks cases; only
# what the picked cases need is installed and built.
set -euo pipefail
cd "$(dirname "$0")/../.."
cases=${VM_CASES:-alsa wine window browser amidi}
wants() { [[ " $cases " == *" $1 "* ]]; }

packages=(qemu-system-x86 linux-image-amd64 busybox-static)
wants amidi && packages+=(alsa-utils python3 binutils)
scripts/setup.sh "${packages[@]}"
# The 32-bit Wine comes from the archive's i386 packages, which must match the installed 64-bit
# ones version for version. When the archive cannot give them (its i386 lists lagging behind the
# amd64 ones), the cases that need them cannot run: they are named as not run, never as passed,
# and the other cases go on.
not_run=""
if wants wine || wants window; then
  if ! scripts/setup.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 wine32:i386 xvfb     xdotool x11-utils imagemagick libx11-dev; then
    not_run="wine window"
    cases=$(for c in $cases; do [[ " $not_run " == *" $c "* ]] || echo "$c"; done | xargs)
    echo "NOT RUN: the VM cases '$not_run': the 32-bit Wine packages could not be installed (above)"
  fi
fi

# The page's preparation builds the whole native build; the other cases need only its midiupdate.
if wants browser; then tests/web/prepare.sh; else scripts/build.sh ci midiupdate; fi
if wants wine || wants window; then
  scripts/build.sh windows
  scripts/build.sh windows-x64
fi

share=build/vm/share
status=0
VM_CASES=$cases scripts/vm/run.sh tests/vm/guest.sh "$share" 1800 || status=$?
echo "--- the guest's report"
cat "$share/guest.log" 2>/dev/null || echo "(none)"
if [ "$status" -ne 0 ]; then
  failing=()
  for log in "$share"/*.log; do
    case $log in */guest.log|*/console.log) continue ;; esac
    grep -q 'FAIL' "$log" 2>/dev/null || [ "$status" -ge 124 ] || continue
    failing+=("$log")
    echo "--- $(basename "$log")"
    tail -n 150 "$log"
  done
  # The failures once more in brief, last, where a short tail of the output still shows them.
  for log in "${failing[@]}"; do
    echo "--- failures in $(basename "$log")"
    grep 'FAIL' "$log" | head -n 12
  done
  echo "the virtual machine stage failed (status $status)"
fi
[ -z "$not_run" ] || echo "NOT RUN: the VM cases '$not_run' (the 32-bit Wine packages could not be installed)"
exit "$status"
