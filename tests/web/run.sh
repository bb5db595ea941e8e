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

# The command line's verdict for a file and a device behaviour, from its last "completed" event.
verdict() {
  "$midiupdate" send "$files/$1" --virtual="$2" --yes --events 2>/dev/null |
    node -e 'let t="";process.stdin.on("data",d=>t+=d).on("end",()=>{for(const l of t.split("\n"))
      if(l.includes("\"completed\""))console.log(JSON.stringify(JSON.parse(l).text))})' >"$files/verdict-$3" || true
}
verdict demo.upd '' accept & verdict demo.upd status=fail fail & verdict one.upd status=none,identity=none silent &
verdict demo-1.syx '' raw & verdict bench.upd '' bench &
wait
damaged=$("$midiupdate" info "$files/damaged.upd" 2>&1 | sed -n 2p || true)
message=$("$midiupdate" info --json "$files/demo.upd" | node -e 'let t="";process.stdin.on("data",d=>t+=d).on("end",
  ()=>console.log(JSON.stringify(JSON.parse(t).message+"\n\nClick OK to start.")))')
for v in accept fail silent raw bench; do
  [ -s "$files/verdict-$v" ] || { echo "FAIL: the command line gave no verdict for the '$v' case"; exit 1; }
done
cat >"$files/expected.json" <<JSON
{ "damaged": $(node -e 'console.log(JSON.stringify(process.argv[1]))' "$damaged"),
  "important": $message,
  "pictureSize": "320x120",
  "verdicts": { "accept": $(cat "$files/verdict-accept"), "fail": $(cat "$files/verdict-fail"),
    "silent": $(cat "$files/verdict-silent"), "raw": $(cat "$files/verdict-raw"), "bench": $(cat "$files/verdict-bench") },
  "bench": { "bytes": $(stat -c %s "$files/bench.syx"), "delay": 20, "unprepDelay": 10 } }
JSON

NODE_PATH=$build/node/node_modules node "$here/page_tests.js" "$build/site" "$files" \
  "$files/expected.json" "$shots" "$@"
