#!/usr/bin/env bash
# The page's tests in headless Chromium: makes the test files with the native midiupdate, takes
# the verdicts the command line gives for the same files and devices (the page must say the same),
# and runs page_tests.js. Usage: tests/web/run.sh MIDIUPDATE DEMO_DIR WEB_BUILD_DIR [CASE...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
midiupdate=$1 demo=$2 build=$3
shift 3
files=$build/files shots=$build/shots
rm -rf "$files" "$shots" && mkdir -p "$files" "$shots"

cp "$demo/demo.upd" "$demo/demo-1.syx" "$files/"
head -c 100 "$demo/demo.upd" >"$files/damaged.upd"
# A Standard MIDI File of a few SysEx messages at their own times, and the same cut short.
node "$here/timed_midi.js" "$files/timed.mid"
head -c 40 "$files/timed.mid" >"$files/damaged.mid"
convert -size 320x120 gradient:navy-teal -fill orange -draw 'circle 260,60 290,60' \
  "$files/picture.png"
"$midiupdate" pack -o "$files/pictured.upd" --product "Demo Synth" --version 1.05 --image "$files/picture.png" \
  --port-settings 'win:demo:name:Demo Synth$Demo Synth MIDI 1' --portion "$demo/demo-1.syx" >/dev/null
"$midiupdate" pack -o "$files/one.upd" --product "Demo Synth" --version 1.05 \
  --port-settings 'win:demo:name:Demo Synth:ideal:512:max:1024:delay:20:unprepdelay:10' \
  --portion "$demo/demo-1.syx@0" >/dev/null
# 64 messages of 256 bytes, paced as the demo's settings say.
node -e 'const b=[];for(let m=0;m<64;m++){b.push(0xF0,0x7D,m);for(let i=0;i<252;i++)b.push((m+i)&0x7F);b.push(0xF7)}
  require("fs").writeFileSync(process.argv[1],Buffer.from(b))' "$files/bench.syx"
"$midiupdate" pack -o "$files/bench.upd" --product "Bench Synth" --version 2.00 \
  --port-settings 'win:bench:name:Bench Synth:ideal:512:max:1024:delay:20:unprepdelay:10' \
  --portion "$files/bench.syx@0" >/dev/null

# A product name with a zero byte in it. No command line carries one: packed with a stand-in
# byte, which is then made zero.
"$midiupdate" pack -o "$files/zero.upd" --product "Demo~Synth" --version 1.05 --portion "$demo/demo-1.syx@0" >/dev/null
node -e 'const fs=require("fs"),f=process.argv[1],b=fs.readFileSync(f),at=b.indexOf("Demo~Synth");
  if(at<0||b.indexOf("Demo~Synth",at+1)>=0)process.exit(1);b[at+4]=0;fs.writeFileSync(f,b)' "$files/zero.upd"

# The command line's verdict for a file and a device behaviour, from its last "completed" event;
# its preview (standard error with --events) beside it.
verdict() {
  "$midiupdate" send "$files/$1" --virtual="$2" --yes --events 2>"$files/preview-$3" |
    node -e 'let t="";process.stdin.on("data",d=>t+=d).on("end",()=>{for(const l of t.split("\n"))
      if(l.includes("\"completed\""))console.log(JSON.stringify(JSON.parse(l).text))})' >"$files/verdict-$3" || true
}
verdict demo.upd '' accept & verdict demo.upd status=fail fail & verdict one.upd status=none,identity=none silent &
verdict demo-1.syx '' raw & verdict bench.upd '' bench & verdict zero.upd '' zero & verdict timed.mid '' midi &
wait
# The loader's sentence for a damaged file, as the command line says it.
refusal() { node -e 'console.log(JSON.stringify(process.argv[1]))' "$("$midiupdate" info "$files/$1" 2>&1 | sed -n 2p || true)"; }
message=$("$midiupdate" info --json "$files/demo.upd" | node -e 'let t="";process.stdin.on("data",d=>t+=d).on("end",
  ()=>console.log(JSON.stringify(JSON.parse(t).message+"\n\nClick OK to start.")))')
for v in accept fail silent raw bench zero midi; do
  [ -s "$files/verdict-$v" ] || { echo "FAIL: the command line gave no verdict for the '$v' case"; exit 1; }
done
# The send's estimates for the demo and the MIDI file on the virtual device: "Duration:    about
# 1m 05s, not ...".
duration=$(sed -n 's/^Duration: *\(about [^,]*\),.*/\1/p' "$files/preview-accept")
midi_duration=$(sed -n 's/^Duration: *\(about [^,]*\),.*/\1/p' "$files/preview-midi")
[ -n "$duration" ] && [ -n "$midi_duration" ] || { echo "FAIL: the command line's preview gave no duration"; exit 1; }

# What opening the page transfers (the virtual device's files apart, which only its checkbox
# loads), each file compressed as a host would send it.
transfer=0
for file in "$build/site"/*; do
  case $(basename "$file") in virtualdevice.*) continue ;; esac
  transfer=$((transfer + $(gzip -9c "$file" | wc -c)))
done
echo "page transfer: $transfer bytes with gzip -9 (the virtual device's files apart)"
[ "$transfer" -le $((200 * 1024)) ] || { echo "FAIL: the page transfers $transfer bytes with gzip, above 200 KB"; exit 1; }

# The service worker's cache is named for the site's files: the same files give the same name,
# and a change to any one of them a new name (a new cache that replaces the old one).
cache_name() { sed -n "s/^const CACHE = '\(.*\)';$/\1/p" "$1/sw.js"; }
kept=$(sed -n "s/^const FILES = \[\(.*\)\];$/\1/p" "$build/site/sw.js" | tr -d "' ")
for change in none page.css midiupdate.wasm; do
  copy=$build/site-$change
  rm -rf "$copy" && cp -r "$build/site" "$copy" && rm "$copy/sw.js"
  [ "$change" = none ] || printf '\n' >>"$copy/$change"
  cmake -Dsite="$copy" -Dtemplate="$here/../../web/page/sw.js.in" -Dfiles="$kept" -P "$here/../../web/SiteHash.cmake"
  name=$(cache_name "$copy")
  rm -rf "$copy"
  if [ "$change" = none ]; then
    [ -n "$name" ] && [ "$name" = "$(cache_name "$build/site")" ] ||
      { echo "FAIL: the same files gave the service worker's cache another name ($name)"; exit 1; }
  else
    [ "$name" != "$(cache_name "$build/site")" ] ||
      { echo "FAIL: a change to $change left the service worker's cache name as it was"; exit 1; }
  fi
done

cat >"$files/expected.json" <<JSON
{ "damaged": { "damaged.upd": $(refusal damaged.upd), "damaged.mid": $(refusal damaged.mid) },
  "important": $message,
  "pictureSize": "320x120",
  "duration": "$duration",
  "midiDuration": "$midi_duration",
  "verdicts": { "accept": $(cat "$files/verdict-accept"), "fail": $(cat "$files/verdict-fail"),
    "silent": $(cat "$files/verdict-silent"), "raw": $(cat "$files/verdict-raw"), "bench": $(cat "$files/verdict-bench"),
    "zero": $(cat "$files/verdict-zero"), "midi": $(cat "$files/verdict-midi") },
  "bench": { "bytes": $(stat -c %s "$files/bench.syx"), "delay": 20, "unprepDelay": 10 } }
JSON

NODE_PATH=$build/node/node_modules node "$here/page_tests.js" "$build/site" "$files" \
  "$files/expected.json" "$shots" "$@"
