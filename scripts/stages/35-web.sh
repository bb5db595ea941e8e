#!/usr/bin/env bash
# time-limit: 900
# The browser page: the core and the tests' virtual device compiled to WebAssembly (Emscripten),
# then the page's tests in headless Chromium, driven through its DevTools protocol, with a
# stand-in for the browser's MIDI access. The page must give the command line's verdicts for the
# same files and devices, and send within 2% of the pauses the file prescribes.
set -euo pipefail
cd "$(dirname "$0")/../.."
tests/web/prepare.sh
bash tests/web/run.sh build/ci/cli/midiupdate build/ci/examples build/web
