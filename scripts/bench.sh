#!/usr/bin/env bash
# Measures every performance figure in one run on this machine and prints the report in Markdown:
#   bash scripts/bench.sh > docs/performance.md
# Progress goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh libbenchmark-dev time python3 jackd2 >&2
scripts/build.sh bench >&2
scripts/build.sh release >&2
bin=build/bench/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "bench: loading files of 1, 16 and 64 MB..." >&2
"$bin/load_benchmark" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$work/load.json" 2>/dev/null
echo "bench: cutting and framing a 64 MB portion..." >&2
"$bin/chunk_benchmark" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$work/chunk.json" 2>/dev/null
echo "bench: peak memory of one load..." >&2
python3 - "$work" <<'PY'
import struct, sys, os
work = sys.argv[1]
size = 64 * 1024 * 1024
def messages(n, seed):
    out = bytearray(n)
    for i in range(0, n, 1024):
        out[i] = 0xF0
        out[i + 1:i + 1023] = bytes(((i + j + seed) & 0x7F) for j in range(1, 2)) * 1022
        out[i + 1023] = 0xF7
    return bytes(out)
with open(os.path.join(work, "big.syx"), "wb") as f:
    f.write(messages(size, 1))
PY
build/release/cli/midiupdate pack -o "$work/big.upd" --product Bench --version 1.0 \
  --portion "$work/big.syx" >/dev/null
/usr/bin/time -f %M build/release/cli/midiupdate info "$work/big.upd" >/dev/null 2>"$work/rss-upd"
/usr/bin/time -f %M build/release/cli/midiupdate info "$work/big.syx" >/dev/null 2>"$work/rss-syx"
echo "bench: a real-time send to the virtual device (about 9 s)..." >&2
"$bin/send_timing" >"$work/send.txt" || true
echo "bench: the waits of updates of three sizes..." >&2
"$bin/wait_table" >"$work/wait.md"
jack=""
if command -v jackd >/dev/null; then
  echo "bench: a 256 KB send over JACK (about a minute)..." >&2
  export JACK_DEFAULT_SERVER="midiupdate-bench-$$" JACK_NO_AUDIO_RESERVATION=1
  jackd -n "$JACK_DEFAULT_SERVER" -r -S -t 5000 -d dummy -p 4096 >"$work/jackd.log" 2>&1 &
  jackpid=$!
  trap 'kill $jackpid 2>/dev/null; wait $jackpid 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 100); do build/release/cli/midiupdate ports --api jack >/dev/null 2>&1 && break; sleep 0.1; done
  if bash tests/e2e/bench.sh build/release/cli/midiupdate >"$work/jack.txt" 2>&1; then
    jack="$work/jack.txt"
  else
    echo "bench: the JACK send failed:" >&2
    cat "$work/jack.txt" >&2
  fi
fi

page=""
echo "bench: the page's send in headless Chromium (about a minute)..." >&2
if tests/web/prepare.sh >&2 &&
  bash tests/web/run.sh build/ci/cli/midiupdate build/ci/examples build/web pacing >"$work/page.txt" 2>&1; then
  page="$work/page.txt"
else
  echo "bench: the page's send failed:" >&2
  cat "$work/page.txt" >&2
fi

python3 - "$work" "$jack" "$page" <<'PY'
import json, re, sys, os, platform, subprocess
work, jack, page = sys.argv[1], sys.argv[2], sys.argv[3]
def medians(name):
    data = json.load(open(os.path.join(work, name)))
    return {b["run_name"]: b["real_time"] for b in data["benchmarks"] if b.get("aggregate_name") == "median"}, data["context"]
load, ctx = medians("load.json")
chunk, _ = medians("chunk.json")
cpu = ctx.get("host_name", ""), ctx.get("num_cpus"), ctx.get("mhz_per_cpu")
print("# Performance")
print()
print("Every figure below was measured in one run of `bash scripts/bench.sh > docs/performance.md` on one")
print(f"machine ({ctx.get('num_cpus')} cores at {ctx.get('mhz_per_cpu')} MHz, {platform.system()} {platform.release()}),")
print("each as a ratio against its natural limit. Times are medians of five repetitions.")
print()
print("## Loading")
print()
print("| file | read the bytes | load | ratio (target: within 3) |")
print("|---|---|---|---|")
worst = 0
for kind in ("upd", "syx"):
    for mb in (1, 16, 64):
        read = load[f"ReadFileBytes/{kind}/{mb}"]
        full = load[f"LoadFile/{kind}/{mb}"]
        worst = max(worst, full / read)
        print(f"| {mb} MB .{kind} | {read:.1f} ms | {full:.1f} ms | {full / read:.2f} |")
print()
size = 64 * 1024 * 1024
for kind in ("upd", "syx"):
    rss = int(open(os.path.join(work, f"rss-{kind}")).read().split()[-1]) * 1024
    limit = 1.5 * size + 16 * 1024 * 1024
    print(f"Peak memory of `midiupdate info` on a 64 MB .{kind} file: {rss / 1048576:.1f} MB, "
          f"{rss / size:.2f} times the file (target: within 1.5 times plus 16 MB, {limit / 1048576:.0f} MB).")
print()
print("## Cutting and framing")
print()
copy, cut = chunk["CopyPortion"], chunk["CutAndFramePortion"]
print(f"A 64 MB portion: copying it takes {copy:.1f} ms; cutting it into chunks and framing each as a port puts")
print(f"it on the wire takes {cut:.1f} ms, {cut / copy:.1f} times the copy.")
print()
print("## The send timeline")
print()
print("```")
print(open(os.path.join(work, "send.txt")).read().rstrip())
if jack:
    print(open(jack).read().rstrip())
print("```")
print()
if page:
    line = next(l for l in open(page) if l.startswith("page bench:"))
    m = re.search(r"(\d+) chunks, (\d+) bytes in ([\d.]+) ms against ([\d.]+) ms .*\(([+-][\d.]+)%\); "
                  r"page transfer (\d+) bytes \((\d+) gzip -9\), the virtual device (\d+) more \((\d+)\)", line)
    chunks, sent, took, rests, off, raw, gz, vraw, vgz = m.groups()
    print("## The page in a browser")
    print()
    print(f"The page (headless Chromium, the stand-in MIDI access over the page's virtual device) sent {sent} bytes")
    print(f"in {chunks} chunks from its first chunk to its last in {float(took):.1f} ms, against {float(rests):.1f} ms of")
    print(f"rests and pauses that the file's pacing prescribes: {off}% (target: within 2%).")
    print(f"Opening the page transfers {int(raw) / 1024:.0f} KiB ({int(gz) / 1024:.0f} KiB compressed with gzip -9); ticking")
    print(f"\"Virtual device\" loads {int(vraw) / 1024:.0f} KiB more ({int(vgz) / 1024:.0f} KiB compressed).")
    print()
print("## What a user waits for")
print()
print("One portion of 1 KiB SysEx messages, the default pacing (chunks of 1024 bytes, 200 + 100 ms of the")
print("port's own pauses and a rest of 1/4096 s per byte after each), a device that accepts at once:")
print()
print(open(os.path.join(work, "wait.md")).read().rstrip())
PY
