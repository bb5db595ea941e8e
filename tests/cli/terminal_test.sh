#!/usr/bin/env bash
# The progress line on a real (pseudo-)terminal fits its width and never wraps; --verbose log lines
# begin with the milliseconds since the start.
# Usage: terminal_test.sh MIDIUPDATE UPDATE_FILE
set -u
midiupdate=$1
file=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for cols in 40 72 120; do
  # `script` gives the program a terminal of its own; stty sets that terminal's width.
  timeout 60 script -qfec "stty cols $cols rows 24; '$midiupdate' send '$file' --dry-run" "$work/typescript" \
    >/dev/null 2>&1 || fail "the run on a $cols-column terminal failed"
  # Every state of the line: the text between carriage returns and line ends, escapes removed.
  tr '\r' '\n' <"$work/typescript" | sed 's/\x1b\[K//g' >"$work/lines"
  grep -q '^\[[#.=]*\]' "$work/lines" || fail "no progress bar was drawn at $cols columns"
  # The progress line, redrawn in place, must never wrap.
  longest=$(grep '^\[[#.=]*\]' "$work/lines" | awk '{ if (length($0) > n) n = length($0) } END { print n }')
  [ "$longest" -lt "$cols" ] || fail "a line of $longest characters on a $cols-column terminal"
  bar=$(grep -m1 -o '^\[[#.=]*\]' "$work/lines")
  echo "$cols columns: longest line $longest, bar of ${#bar} characters"
  # The file's message, the preparation message and the verdict are wrapped at spaces to the width.
  if [ "$cols" = 40 ]; then
    for line in "    This demo updates the virtual Demo" "    Synth." "2. Do not disconnect your device until" \
                "the update is complete." "The 'Demo Synth' was updated sucessfully" "to version 1.05."; do
      grep -qxF -- "$line" "$work/lines" || fail "no wrapped line '$line' at 40 columns"
    done
  fi
done

timeout 60 "$midiupdate" send "$file" --dry-run --verbose >/dev/null 2>"$work/err" || fail "the verbose run failed"
grep -q '^\[ *[0-9]* ms\] .*SysExSender::Send(update,sender,progress)$' "$work/err" || fail "no timed log line"
untimed=$(grep -v -c '^\[ *[0-9]* ms\] ' "$work/err")
[ "$untimed" -eq 0 ] || fail "$untimed log lines without their time"
echo "verbose log: $(wc -l <"$work/err") lines, each after its time"
