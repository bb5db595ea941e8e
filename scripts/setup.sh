#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing (quiet otherwise), and
# says what it is doing while it does.
# Usage: scripts/setup.sh [extra-package...]
set -euo pipefail

# RtMidi (real MIDI ports) and libsystemd (no sleep during a send, on Linux) are part of every
# native build, so they come first.
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev librtmidi-dev libsystemd-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# 32-bit packages (such as wine32:i386) need their architecture enabled before the lists are read.
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: enabling the i386 architecture for ${p}"
    $sudo dpkg --add-architecture i386
  fi
done
echo "setup: installing ${missing[*]}"
# A mirror caught in the middle of a sync serves lists that do not match their index for a while:
# reading them again a little later is what a person would do.
for attempt in 1 2 3; do
  echo "setup: reading the package lists..."
  $sudo apt-get update -qq && break
  if [ "$attempt" -eq 3 ]; then
    # apt keeps the lists it could read; whether they hold what is wanted, the install tells.
    echo "setup: some package lists could not be read; installing from those that could"
    break
  fi
  echo "setup: reading the package lists failed; trying again in 30 s"
  sleep 30
done
# One line per package as it is unpacked and set up, so a long install is never silent; apt's
# own words when it fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 | tee "$log" |
  sed -n 's/^\(Unpacking\|Setting up\) \([^ ]*\).*/setup:   \1 \2/p'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  grep -E '^(E: | [^ ].* : Depends| +Depends)' "$log" | head -n 20
  echo "setup: apt-get failed ($status)"
  exit "$status"
fi
echo "setup: done"
