#!/usr/bin/env bash
# What the page's tests need: the packages (Emscripten, Chromium, Node.js), the native build (its
# midiupdate makes the test files), the page's build, and the DevTools driver at the versions
# the lock file names (it never downloads a browser).
set -euo pipefail
cd "$(dirname "$0")/../.."
extra=()
command -v npm >/dev/null || extra+=(nodejs npm)
scripts/setup.sh emscripten chromium imagemagick "${extra[@]}"
scripts/build.sh ci
scripts/build.sh web
mkdir -p build/web/node
if ! cmp -s tests/web/package-lock.json build/web/node/package-lock.json || [ ! -d build/web/node/node_modules ]; then
  cp tests/web/package.json tests/web/package-lock.json build/web/node/
  (cd build/web/node && npm ci --omit-lockfile-registry-resolved --no-audit --no-fund --loglevel=error)
fi
