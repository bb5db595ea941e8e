#!/usr/bin/env bash
# While send sends to a device, logind holds a "sleep" inhibitor lock of the program's, and the
# lock is gone once the run has ended (the program still running). Without logind on the bus the
# send runs as ever and the log says why in one line. logind here is a stand-in (python3-dbusmock's)
# on a private bus of the test's own, which DBUS_SYSTEM_BUS_ADDRESS points the program at.
# Usage: logind_test.sh PAUSED_SEND MIDIUPDATE
set -u
driver=$1
midiupdate=$2

skip() { echo "SKIP: $*"; exit 77; }
command -v dbus-daemon >/dev/null || skip "no dbus-daemon (Debian package dbus)"
command -v dbus-send >/dev/null || skip "no dbus-send (Debian package dbus)"
python=
for candidate in python3 /usr/bin/python3; do
  "$candidate" -c 'import dbusmock' 2>/dev/null && { python=$candidate; break; }
done
[ -n "$python" ] || skip "no python3-dbusmock"

work=$(mktemp -d)
daemons=()
cleanup() {
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  [ -z "${sender:-}" ] || kill "$sender" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log "$work"/*.err; do [ -s "$f" ] && { echo "--- $(basename "$f")"; cat "$f"; }; done
  exit 1
}
# Runs the command until it succeeds, for at most 60 s (each try is slow on a busy machine).
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + 60))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what"
    sleep 0.05
  done
}

# A bus that anyone may use, on a socket in the test's folder.
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 >"$work/address" 2>"$work/bus.err" &
daemons+=($!)
has_address() { [ "$(wc -l <"$work/address")" -ge 1 ]; }
wait_until "the bus never gave its address" has_address
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$work/address")
export DBUS_SYSTEM_BUS_ADDRESS

printf '\xf0\x7d\x01\x02\x03\xf7' >"$work/fw.syx"
"$midiupdate" pack -o "$work/fw.upd" --product "Awake Pad" --version 1.05 \
  --port-settings 'win:x:name:Awake Pad' --portion "$work/fw.syx" >/dev/null || fail "pack failed"

login1() {
  dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
    "org.freedesktop.login1.Manager.$1" 2>>"$work/dbus-send.err"
}
# The inhibitor locks logind holds now, one per line: what, who, why, mode.
inhibitors() {
  login1 ListInhibitors | tr -s ' \n' ' ' | grep -o 'struct { [^}]*}' |
    sed 's/^struct { string \("[^"]*"\) string \("[^"]*"\) string \("[^"]*"\) string \("[^"]*"\).*/\1 \2 \3 \4/'
}
no_inhibitors() { [ -z "$(inhibitors)" ]; }

# Runs one send to the paused device with a log: after it says "sending", runs `during`; after
# "finished STATUS", runs `after`; then lets it end. Sets $status.
send_paused() {
  local log=$1 during=$2 after=$3 line
  coproc SEND { "$driver" "$work/fw.upd" --yes --log "$log" 2>"$work/send.err"; }
  sender=$SEND_PID
  read -r -t 60 line <&"${SEND[0]}" && [ "$line" = sending ] || fail "the send never began sending"
  $during
  echo go >&"${SEND[1]}"
  read -r -t 60 line <&"${SEND[0]}" || fail "the send never finished"
  status=${line#finished }
  $after
  echo go >&"${SEND[1]}"
  wait "$sender"
  sender=
}

# The stand-in logind, which logs every call made to it.
"$python" -m dbusmock --system --template logind -l "$work/mock-calls.log" >"$work/mock.err" 2>&1 &
logind=$!
daemons+=("$logind")
logind_there() { dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.NameHasOwner string:org.freedesktop.login1 2>/dev/null | grep -q 'boolean true'; }
wait_until "the stand-in logind never came on the bus" logind_there

held_during=
check_during() { held_during=$(inhibitors); }
check_after() { wait_until "the inhibitor lock was still held after the run" no_inhibitors; }
send_paused "$work/logind.log" check_during check_after
[ "$status" -eq 0 ] || fail "with logind the send ended with $status, expected 0"
[ "$held_during" = '"sleep" "MIDI Updater" "Updating firmware" "block"' ] ||
  fail "during the send logind held: '${held_during}', expected one sleep lock of MIDI Updater"
grep -q '^[0-9.]* Inhibit "sleep" "MIDI Updater" "Updating firmware" "block"$' "$work/mock-calls.log" ||
  fail "logind was not asked for a sleep lock"
[ "$(grep -c ' Inhibit ' "$work/mock-calls.log")" -eq 1 ] || fail "logind was asked more than once"

# No logind on the bus: the update goes ahead, and the log says once why sleep is not held off.
kill "$logind"
wait "$logind" 2>/dev/null
logind_gone() { ! logind_there; }
wait_until "the stand-in logind did not leave the bus" logind_gone
nothing() { :; }
send_paused "$work/no-logind.log" nothing nothing
[ "$status" -eq 0 ] || fail "without logind the send ended with $status, expected 0"
[ "$(grep -c 'Keep awake' "$work/no-logind.log")" -eq 1 ] || fail "without logind the log should say so in one line"
grep -q 'Keep awake: logind gave no sleep inhibitor (.*login1.*); the computer may go to sleep' "$work/no-logind.log" ||
  fail "without logind the log does not say why"

echo "logind held one sleep lock during the send and none after it; without logind the send ran and logged why"
