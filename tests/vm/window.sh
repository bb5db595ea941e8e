#!/usr/bin/env bash
# In the guest: the window tests of the 32-bit MidiUpdater.exe (the product) under Wine on a
# virtual display, the same cases the host's stage runs for the 64-bit twin, and one whole update
# through Wine's own winmm to `midiupdate simulate` over the ALSA sequencer.
set -uo pipefail
. tests/vm/wine-prefix.sh
start=$(date +%s)
prepare_prefix || exit 1
echo "Wine prefix ready in $(( $(date +%s) - start )) s"

share=/vmshare
[ -d "$share" ] || share=/tmp
shots=$share/window-shots
# The cases' folders stay here, to be kept in the shared folder when a case fails.
export TMPDIR=/tmp/window-work KEEP_WORK=1
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
# Under emulation every Wine program takes seconds to start (a tenth of a second on the host): each
# bound is longer, and so is the instrument's installing, which the window tests act during. A
# program that hangs still ends well within the case's bound.
export WINDOW_TESTS_PATIENCE=${WINDOW_TESTS_PATIENCE:-6} PROGRAM_LIMIT=${PROGRAM_LIMIT:-300}
start=$(date +%s)
# Each line with the seconds since the start, to see where the time goes.
WINDOW_TESTS_PREFIX=$WINEPREFIX WINDOW_TESTS_ALSA=1 \
  bash windows/app/tests/window_tests.sh build/windows build/ci/cli/midiupdate "$shots" 2>&1 |
  while IFS= read -r line; do printf '[%4d s] %s\n' $(( $(date +%s) - start )) "$line"; done
status=${PIPESTATUS[0]}
echo "window tests done in $(( $(date +%s) - start )) s (status $status); screenshots in $shots"
if [ "$status" -ne 0 ] && [ "$share" != /tmp ]; then
  rm -rf "$share/window-work" && cp -r "$TMPDIR" "$share/window-work" &&
    echo "the cases' folders (logs, driver output): $share/window-work"
fi
rm -rf "$TMPDIR"
exit "$status"
