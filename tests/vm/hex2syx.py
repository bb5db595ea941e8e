#!/usr/bin/env python3
"""Turns a firmware image into SysEx the way a maker's conversion tool would, for tests that need a
firmware file made here: an Intel HEX file (by its leading ':') or raw binary in, messages of
7-bit data out, one block of the image per message, each byte as two nibbles.

Message layout: F0 7D 01, block number (2 x 7 bits), address (4 x 7 bits), byte count
(2 x 7 bits), the nibbles (high first), a 7-bit checksum of everything after 01, F7. Block sizes
cycle through BLOCKS, so the messages are 13 + 2 * size bytes long.

Usage: hex2syx.py IMAGE OUT.syx [--blocks N,N,...]
"""
import sys

BLOCKS = [122, 1500, 700, 1400, 400, 1300, 256, 1024]


def read_intel_hex(text):
    """Data records (00) at their addresses, with extended linear (04) and segment (02)
    addresses; every record's checksum is checked. Gaps between records are filled with FF."""
    memory = {}
    base = 0
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line:
            continue
        if not line.startswith(":"):
            raise ValueError(f"line {number}: not a record")
        record = bytes.fromhex(line[1:])
        if len(record) < 5 or len(record) != 5 + record[0]:
            raise ValueError(f"line {number}: wrong length")
        if sum(record) & 0xFF:
            raise ValueError(f"line {number}: bad checksum")
        count, address, kind, data = record[0], (record[1] << 8) | record[2], record[3], record[4:-1]
        if kind == 0x00:
            for i, b in enumerate(data):
                memory[base + address + i] = b
        elif kind == 0x01:
            break
        elif kind == 0x02:
            base = ((data[0] << 8) | data[1]) << 4
        elif kind == 0x04:
            base = ((data[0] << 8) | data[1]) << 16
        assert count == len(data)
    if not memory:
        return 0, b""
    start, end = min(memory), max(memory) + 1
    return start, bytes(memory.get(a, 0xFF) for a in range(start, end))


def seven_bit(value, count):
    return [(value >> (7 * (count - 1 - i))) & 0x7F for i in range(count)]


def to_sysex(start, image, blocks):
    out = bytearray()
    offset, number = 0, 0
    while offset < len(image):
        block = image[offset:offset + blocks[number % len(blocks)]]
        body = seven_bit(number, 2) + seven_bit(start + offset, 4) + seven_bit(len(block), 2)
        for b in block:
            body += [b >> 4, b & 0x0F]
        out += bytes([0xF0, 0x7D, 0x01] + body + [sum(body) & 0x7F, 0xF7])
        offset += len(block)
        number += 1
    return bytes(out)


def main(argv):
    args = argv[1:]
    blocks = BLOCKS
    if "--blocks" in args:
        i = args.index("--blocks")
        blocks = [int(n) for n in args[i + 1].split(",")]
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit(__doc__)
    with open(args[0], "rb") as f:
        raw = f.read()
    start, image = read_intel_hex(raw.decode("ascii")) if raw[:1] == b":" else (0, raw)
    with open(args[1], "wb") as f:
        f.write(to_sysex(start, image, blocks))


if __name__ == "__main__":
    main(sys.argv)
