#!/usr/bin/env bash
# time-limit: 540
# Every libFuzzer target for a bounded time (FUZZ_SECONDS each, 55 by default), starting from the
# committed seed corpus; any crash or broken property fails the stage. Inputs found on the way stay
# under build/fuzz/run; a crash leaves its input there to become a regression test.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/setup.sh clang-14 libclang-rt-14-dev
scripts/build.sh fuzz

seconds=${FUZZ_SECONDS:-55}
work=build/fuzz/run
rm -rf "$work"
failed=()
for target in load_update port_settings sysex_assembler device_replies chunking standard_midi_file; do
  dir=$work/$target
  mkdir -p "$dir/found" "$dir/artifacts"
  if build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/" "$dir/found" "fuzz/corpus/$target" >"$dir/log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\).*/cov \1, features \2, corpus \3/p' <<<"$done_line")
    echo "fuzz_$target: $runs runs in ${seconds} s, $cov, no crash"
  else
    echo "fuzz_$target FAILED; the end of its log ($dir/log):"
    tail -n 40 "$dir/log"
    ls "$dir/artifacts"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]} (run one again with FUZZ_VERBOSE=1 build/fuzz/fuzz/fuzz_NAME ARTIFACT)"
  exit 1
fi
