#!/usr/bin/env bash
# Draws the program's banner (500 x 200, RGB, no transparency): the title lettering on a dark
# blue gradient with a row of keyboard keys, so the window's picture is our own artwork.
# Usage: windows/app/make_banner.sh [OUT.png]   (ImageMagick from Debian: package imagemagick)
set -euo pipefail
out=${1:-$(dirname "$0")/res/banner.png}
convert=/usr/bin/convert   # the Debian program, never another "convert" found earlier on PATH

keys=()
for i in $(seq 0 24); do
  x=$((i * 20)); keys+=(-fill white -stroke '#1b2a4a' -draw "rectangle $x,150 $((x + 19)),199")
done
black=()
for i in $(seq 0 24); do
  case $((i % 7)) in 2|6) continue ;; esac
  x=$((i * 20 + 13)); black+=(-fill '#101820' -stroke '#101820' -draw "rectangle $x,150 $((x + 12)),180")
done

"$convert" -size 500x200 gradient:'#1e3c72-#2a5298' \
  "${keys[@]}" "${black[@]}" \
  -stroke none -fill '#ffd166' -font DejaVu-Sans-Bold -pointsize 52 \
  -annotate +32+92 'MIDI Updater' \
  -fill '#dce6f5' -font DejaVu-Sans -pointsize 16 -annotate +36+124 'Firmware updates over MIDI' \
  -alpha off -depth 8 -type TrueColor -define png:color-type=2 -strip "$out"
