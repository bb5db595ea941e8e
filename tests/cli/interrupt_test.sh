#!/usr/bin/env bash
# Ctrl-C during a real-time update stops the run, closes the port and exits with 130.
# Usage: interrupt_test.sh MIDIUPDATE UPDATE_FILE
set -u
midiupdate=$1
file=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The device reports "installing" after the first portion for longer than the test may run: once
# the run waits for it, the run cannot end by itself before the interrupt, however slowly the
# program runs (under a sanitizer, on a busy machine).
"$midiupdate" send "$file" --virtual=status=install:200 --yes --log "$work/log" >"$work/out" 2>"$work/err" &
pid=$!
seen=no
# Bounded by the clock, not by a count of looks: each look is slow on a loaded machine.
until [ "$SECONDS" -ge 90 ]; do
  grep -q "WaitForUpdateToFinish >>" "$work/log" 2>/dev/null && { seen=yes; break; }
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
[ "$seen" = yes ] || { kill -KILL "$pid" 2>/dev/null; echo "FAIL: the run never waited for the device"; cat "$work/out" "$work/err"; exit 1; }
kill -INT "$pid"
wait "$pid"
status=$?

fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; echo "--- log"; cat "$work/log"; exit 1; }
[ "$status" -eq 130 ] || fail "exit status $status, expected 130"
grep -q "interrupted" "$work/err" || fail "no interruption message"
grep -q "VirtualDevice: port closed" "$work/log" || fail "the port was not closed"
if grep -q "updated sucessfully" "$work/out"; then fail "a verdict was printed for a stopped run"; fi
echo "interrupted run exited 130 with the port closed"
