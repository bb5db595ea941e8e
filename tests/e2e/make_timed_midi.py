#!/usr/bin/env python3
"""A Standard MIDI File of a few SysEx messages at set times, and the check of when they arrived.

  make_timed_midi.py make OUT.mid
      writes the file and prints each message's time, size and the earliest it may leave
  make_timed_midi.py check-log FILE.mid LOG SLACK_MS SEND_LOG
      arrival times from a `midiupdate simulate --verbose` log (its "DeviceSimulator: in" lines)
  make_timed_midi.py check-recording FILE.mid RECORDED.mid SLACK_MS SEND_LOG
      arrival times from a Standard MIDI File that a recorder wrote as the messages came

A sender must send each message no earlier than its time after the portion's start, and never
sooner than the previous message's bytes take at 1/4096 s a byte. The checks read the times from
FILE.mid itself and hold every arrival, measured from the first message's, against that earliest
time less SLACK_MS, the receiving side's own jitter, and less how late the first message itself
left, which SEND_LOG (`midiupdate send --verbose`) tells: a message on time after a late first
one comes that much sooner after it. Exit 1 when a message is missing, differs, or came too early.
"""
import re
import struct
import sys

SECONDS_PER_BYTE = 1 / 4096
TICKS_PER_QUARTER = 1000
TEMPO_US = 1000000  # a quarter note a second: a tick is a millisecond

# (time in ms, size in bytes). The gaps are far wider than the pace; the message at 1074 ms is
# due 50 ms after a 2097-byte one, which takes 512 ms at the pace, so the pace decides it. The
# times that decide are multiples of 256 ms, three periods of the JACK stage's server (4096
# frames at 48 kHz), so that over JACK every message waits about as long for its cycle as the
# first; the checks still allow what the receiver says it may add.
SCHEDULE = [(0, 64), (512, 96), (1024, 2097), (1074, 64), (1792, 128), (2304, 32)]


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def read_var_len(data, pos):
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if byte < 0x80:
            return value, pos


def messages():
    """The schedule's messages: F0 7D, the message's number, a fill, F7."""
    out = []
    for number, (ms, size) in enumerate(SCHEDULE):
        body = bytes([0x7D, number]) + bytes((number * 17 + i) & 0x7F for i in range(size - 4))
        out.append((ms, b"\xF0" + body + b"\xF7"))
    return out


def make(path):
    track = bytearray(b"\x00\xFF\x51\x03" + TEMPO_US.to_bytes(3, "big"))
    last = 0
    for ms, message in messages():
        ticks = ms * 1000 * TICKS_PER_QUARTER // TEMPO_US
        # A SysEx event holds what follows its F0.
        track += var_len(ticks - last) + b"\xF0" + var_len(len(message) - 1) + message[1:]
        last = ticks
    track += var_len(100) + b"\xFF\x2F\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_QUARTER))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)
    for number, (ms, earliest, size) in enumerate(expected(read_midi(path))):
        print(f"message {number}: at {ms:.0f} ms, {size} bytes, leaves no earlier than {earliest:.1f} ms")


def read_midi(path):
    """The SysEx messages of a Standard MIDI File as (time in ms, bytes): a message split into
    an F0 event and F7 continuations is joined and takes its first part's time. Ticks per quarter
    note only, with Set Tempo; enough for this file and for what a recorder writes."""
    data = open(path, "rb").read()
    if data[:4] != b"MThd":
        raise SystemExit(f"{path} is not a Standard MIDI File")
    _, _, division = struct.unpack(">HHH", data[8:14])
    if division & 0x8000:
        raise SystemExit(f"{path}: SMPTE time is not read here")
    pos = 8 + struct.unpack(">I", data[4:8])[0]
    events = []  # (tick, order, kind, payload)
    order = 0
    while pos + 8 <= len(data):
        kind, length = data[pos:pos + 4], struct.unpack(">I", data[pos + 4:pos + 8])[0]
        pos += 8
        end = pos + length
        if kind != b"MTrk":
            pos = end
            continue
        tick, status = 0, 0
        while pos < end:
            delta, pos = read_var_len(data, pos)
            tick += delta
            if data[pos] & 0x80:
                status = data[pos]
                pos += 1
            if status == 0xFF:
                meta = data[pos]
                size, pos = read_var_len(data, pos + 1)
                events.append((tick, order, "tempo" if meta == 0x51 else "meta", data[pos:pos + size]))
                pos += size
            elif status in (0xF0, 0xF7):
                size, pos = read_var_len(data, pos)
                events.append((tick, order, status, data[pos:pos + size]))
                pos += size
            else:
                pos += 1 if status & 0xF0 in (0xC0, 0xD0) else 2
            order += 1
    events.sort(key=lambda e: (e[0], e[1]))
    tempo, at_tick, at_us = 500000, 0, 0.0
    out, open_message = [], None
    for tick, _, kind, payload in events:
        us = at_us + (tick - at_tick) * tempo / division
        if kind == "tempo":
            tempo, at_tick, at_us = int.from_bytes(payload, "big"), tick, us
        elif kind == 0xF0:
            open_message = [us / 1000, bytearray(b"\xF0" + payload)]
            out.append(open_message)
        elif kind == 0xF7 and open_message is not None:
            open_message[1] += payload
        if open_message is not None and open_message[1].endswith(b"\xF7"):
            open_message = None
    return [(ms, bytes(message)) for ms, message in out]


def expected(file_messages):
    """(time, earliest, size) of each message, in ms after the first message's time."""
    out, earliest, first = [], 0.0, file_messages[0][0]
    for number, (ms, message) in enumerate(file_messages):
        if number:
            pace = len(file_messages[number - 1][1]) * SECONDS_PER_BYTE * 1000
            earliest = max(ms - first, earliest + pace)
        out.append((ms - first, earliest, len(message)))
    return out


def first_message_lateness(send_log):
    """How long after the portion began the sender handed over its first message, by its timed
    log: from "SysExSender::SendChunked" to the first "MessagePort::Send" after it."""
    stamp = re.compile(r"^\[\s*(\d+) ms\] (\S+)")
    began = None
    for text in open(send_log, errors="replace"):
        m = stamp.match(text)
        if not m:
            continue
        if m.group(2).startswith("SysExSender::SendChunked("):
            began = int(m.group(1))
        elif began is not None and m.group(2).startswith("MessagePort::Send("):
            return int(m.group(1)) - began
    raise SystemExit(f"{send_log} does not tell when the first message left")


def check(file_messages, arrivals, slack, send_log):
    """arrivals: (ms, size, whole) of each message as it began to arrive, in order."""
    late = first_message_lateness(send_log)
    print(f"the first message left {late} ms after the portion began; {slack:g} ms of jitter allowed besides")
    slack += late
    want = expected(file_messages)
    failures = 0
    if len(arrivals) < len(want):
        print(f"FAIL: {len(arrivals)} messages arrived, the file has {len(want)}")
        return 1
    # Both rules must be tested beyond the slack, or passing proves nothing.
    gaps = [b[0] - a[0] for a, b in zip(want, want[1:])]
    paces = [a[2] * SECONDS_PER_BYTE * 1000 for a in want]
    if not any(g > 2 * slack for g in gaps) or not any(p - g > 2 * slack for g, p in zip(gaps, paces)):
        print(f"FAIL: with {slack:g} ms allowed the file's gaps and pace tell nothing")
        return 1
    first = arrivals[0][0]
    for number, ((ms, earliest, size), (at, got_size, whole)) in enumerate(zip(want, arrivals)):
        came = at - first
        verdict = "ok"
        if got_size != size or not whole:
            verdict = f"FAIL: {got_size} bytes{'' if whole else ' (not whole)'}, the file has {size}"
        elif came < earliest - slack:
            verdict = f"FAIL: {earliest - came:.1f} ms early"
        if verdict != "ok":
            failures += 1
        print(f"message {number}: file {ms:.0f} ms, earliest {earliest:.1f} ms, came at {came:.1f} ms: {verdict}")
    for number, (at, got_size, _) in enumerate(arrivals[len(want):], len(want)):
        print(f"then {got_size} bytes at {at - first:.1f} ms (not in the file)")
    return 1 if failures else 0


def check_log(midi_path, log_path, slack, send_log):
    # "[   1234 ms] DeviceSimulator: in 64 bytes: F0 .. F7"
    line = re.compile(r"^\[\s*(\d+) ms\] DeviceSimulator: in (\d+) bytes: ([0-9A-F]{2}) \.\. ([0-9A-F]{2})$")
    arrivals = []
    for text in open(log_path, errors="replace"):
        m = line.match(text.rstrip("\n"))
        if m and m.group(3) == "F0":
            arrivals.append((float(m.group(1)), int(m.group(2)), m.group(4) == "F7"))
    return check(read_midi(midi_path), arrivals, slack, send_log)


def check_recording(midi_path, recorded_path, slack, send_log):
    file_messages = read_midi(midi_path)
    recorded = read_midi(recorded_path)
    arrivals = []
    for number, (ms, message) in enumerate(recorded):
        same = number >= len(file_messages) or message == file_messages[number][1]
        if not same:
            print(f"FAIL: message {number} arrived as {message[:8].hex()}.. ({len(message)} bytes), not as the file has it")
        arrivals.append((ms, len(message), same and message.endswith(b"\xF7")))
    return check(file_messages, arrivals, slack, send_log)


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        make(argv[2])
        return 0
    if len(argv) == 6 and argv[1] == "check-log":
        return check_log(argv[2], argv[3], float(argv[4]), argv[5])
    if len(argv) == 6 and argv[1] == "check-recording":
        return check_recording(argv[2], argv[3], float(argv[4]), argv[5])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
