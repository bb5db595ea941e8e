#!/usr/bin/env python3
"""What a MIDI cable should carry during an update, worked out here from the chunking rules as
written, not by the program under test, and the hand-made files that exercise those rules.

  wire.py handmade DIR           writes DIR/mixed.syx and DIR/lines.txt (see make_mixed, make_lines)
  wire.py expect [--ideal N] [--max N] [--chunks yes|no] PORTION...
                                 writes the bytes the portions go out as, in order, to standard
                                 output, and each chunk's place and framing to standard error
  wire.py compare EXPECTED GOT   exit 0 when both files hold the same bytes, else says where
                                 they part

The rules: a portion is cut into chunks. A chunk is at least `ideal` bytes long; from there it
ends just after the first F7 or 0x0A byte (the ideal-th byte counts), but grows to no more than
`max` bytes (unless ideal >= max, when it is exactly `ideal` long); what is left when fewer than
`ideal` bytes remain is the last chunk. With `chunks` on, a chunk that does not begin with F0 goes
out with F0 in front, and one that does not end with F7 with F7 behind.
"""
import os
import sys


def chunk_lengths(data, ideal, maximum):
    lengths, at = [], 0
    while at < len(data):
        left = len(data) - at
        if left <= ideal:
            length = left
        elif ideal >= maximum:
            length = ideal
        else:
            length = ideal
            while length < maximum and length < left and data[at + length - 1] not in (0xF7, 0x0A):
                length += 1
        lengths.append(length)
        at += length
    return lengths


def wire_bytes(data, ideal, maximum, chunks, report=None):
    out, at = bytearray(), 0
    for length in chunk_lengths(data, ideal, maximum):
        chunk = data[at:at + length]
        front = chunks and chunk[0] != 0xF0
        back = chunks and chunk[-1] != 0xF7
        if report is not None:
            report.append(f"  chunk at {at}, {length} bytes, ends {chunk[-1]:02X}"
                          + (", F0 added" if front else "") + (", F7 added" if back else ""))
        out += (b"\xF0" if front else b"") + chunk + (b"\xF7" if back else b"")
        at += length
    return bytes(out)


# Data bytes 0..7F from a fixed sequence, never 0x0A (a line feed is placed only where wanted).
def filler(count, seed):
    out, x = bytearray(), seed
    while len(out) < count:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        b = (x >> 16) & 0x7F
        if b != 0x0A:
            out.append(b)
    return out


def message(length, seed, line_feeds=()):
    """F0 7D, data, F7: `length` bytes in all, 0x0A at the given indexes of the message."""
    body = bytearray([0xF0, 0x7D]) + filler(length - 3, seed) + b"\xF7"
    for i in line_feeds:
        assert 1 < i < length - 1
        body[i] = 0x0A
    return bytes(body)


def make_mixed():
    """Messages placed so that, with ideal 1024 and max 3072, the chunks end at: an F7 that is
    exactly the 1024th byte; a line feed past the 1024th byte inside a message (one before it does
    not count); the 3072-byte limit inside a 3500-byte message; an F7 past 1024; a line feed that
    is exactly the 1024th byte; a line feed just before its message's F7, so that the next chunk
    begins with that F7; and a last chunk of short messages under 1024 bytes. The first messages
    are short, two of them without a manufacturer ID (F0 00 F7 and the empty F0 F7)."""
    parts = [bytes.fromhex("F07D01F7"), bytes.fromhex("F07D02102030F7"), bytes.fromhex("F000F7"),
             bytes.fromhex("F0F7")]
    parts.append(message(1008, 1, line_feeds=[484]))         # ends at 1024
    parts.append(message(1600, 2, line_feeds=[100, 1030]))   # a chunk ends after index 1030
    parts.append(message(3500, 3))                           # longer than max
    parts.append(message(1500, 4, line_feeds=[1023]))        # line feed as the 1024th byte
    parts.append(message(700, 5, line_feeds=[698]))          # line feed before its F7
    for i in range(30):
        parts.append(message(10, 100 + i))
    return b"".join(parts)


def make_lines():
    """Text: 7-bit bytes without F0 or F7, in lines that end with line feeds."""
    out = bytearray()
    for i in range(36):
        out += f"line {i:03d} of a portion that is text, not SysEx: {'abcdefghij' * (i % 4)}\n".encode()
    return bytes(out)


def compare(expected_path, got_path):
    with open(expected_path, "rb") as f:
        expected = f.read()
    with open(got_path, "rb") as f:
        got = f.read()
    if expected == got:
        print(f"the same {len(got)} bytes")
        return 0
    at = next((i for i in range(min(len(expected), len(got))) if expected[i] != got[i]),
              min(len(expected), len(got)))
    print(f"expected {len(expected)} bytes, got {len(got)}; they part at byte {at}")
    print(f"  expected from {max(0, at - 8)}: {expected[max(0, at - 8):at + 8].hex(' ').upper()}")
    print(f"  got from      {max(0, at - 8)}: {got[max(0, at - 8):at + 8].hex(' ').upper()}")
    return 1


def main(argv):
    if len(argv) >= 2 and argv[1] == "handmade" and len(argv) == 3:
        with open(os.path.join(argv[2], "mixed.syx"), "wb") as f:
            f.write(make_mixed())
        with open(os.path.join(argv[2], "lines.txt"), "wb") as f:
            f.write(make_lines())
        return 0
    if len(argv) >= 2 and argv[1] == "compare" and len(argv) == 4:
        return compare(argv[2], argv[3])
    if len(argv) >= 3 and argv[1] == "expect":
        ideal, maximum, chunks, files = 1024, 3072, True, []
        args = argv[2:]
        while args:
            a = args.pop(0)
            if a == "--ideal":
                ideal = int(args.pop(0))
            elif a == "--max":
                maximum = int(args.pop(0))
            elif a == "--chunks":
                chunks = args.pop(0) == "yes"
            else:
                files.append(a)
        out = bytearray()
        for path in files:
            with open(path, "rb") as f:
                data = f.read()
            report = [f"{os.path.basename(path)}: {len(data)} bytes"]
            out += wire_bytes(data, ideal, maximum, chunks, report)
            print("\n".join(report), file=sys.stderr)
        sys.stdout.buffer.write(bytes(out))
        return 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
