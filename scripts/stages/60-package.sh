#!/usr/bin/env bash
# time-limit: 600
# The release build installs the command with its manual page and the browser page, and CPack
# makes the Debian package (and, where the Windows build exists, the .zip with the two Windows
# programs and the page).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh dpkg-dev man-db unzip emscripten
scripts/build.sh web
scripts/build.sh release
version=$(sed -n 's/^project(MidiUpdater VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install build/release --prefix "$stage/usr" >/dev/null
"$stage/usr/bin/midiupdate" --version | grep -qx "midiupdate $version" || { echo "installed --version is not $version"; exit 1; }
MANWIDTH=80 man -l "$stage/usr/share/man/man1/midiupdate.1" | grep -q "EXIT STATUS" || { echo "the manual page does not render"; exit 1; }
for file in index.html page.js webmidi.js midiupdate.js midiupdate.wasm banner.png; do
  cmp -s "build/web/site/$file" "$stage/usr/share/midiupdate/web/$file" || { echo "the page's $file is not installed"; exit 1; }
done

(cd build/release && cpack -G DEB >/dev/null)
deb=build/release/midiupdate_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q './usr/bin/midiupdate$' <<<"$contents" || { echo "the package lacks the program"; exit 1; }
grep -q './usr/share/man/man1/midiupdate.1' <<<"$contents" || { echo "the package lacks the manual page"; exit 1; }
grep -q './usr/share/midiupdate/web/midiupdate.wasm' <<<"$contents" || { echo "the package lacks the page"; exit 1; }
echo "built $deb"

if [ -f build/windows/CMakeCache.txt ]; then
  (cd build/windows && cpack -G ZIP >/dev/null)
  zip=$(ls build/windows/midiupdate-"$version"-*.zip)
  listing=$(unzip -l "$zip")
  exes=(midiupdate.exe)
  # The windowed program is packed once its sources are in the tree.
  [ -f windows/app/CMakeLists.txt ] && exes+=(MidiUpdater.exe)
  for exe in "${exes[@]}" web/index.html web/midiupdate.wasm; do
    grep -q "$exe" <<<"$listing" || { echo "$zip lacks $exe"; exit 1; }
  done
  echo "built $zip"
fi
