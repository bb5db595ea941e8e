#!/usr/bin/env bash
# time-limit: 900
# The native build with warnings as errors, and every unit and command-line test.
set -euo pipefail
cd "$(dirname "$0")/../.."
# logind's sleep lock is built over libsystemd, and tested against a stand-in logind on a bus of
# the test's own.
scripts/setup.sh libsystemd-dev python3-dbusmock dbus
scripts/build.sh ci
ctest --preset ci -j "$(nproc)"
