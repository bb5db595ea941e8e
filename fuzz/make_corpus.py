#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target from the example files and the tests' fixtures.

Usage: fuzz/make_corpus.py BUILD_EXAMPLES_DIR   (the folder holding demo.upd, demo-1.syx, demo-2.syx)
The corpus is committed; run this again only when the fixtures change.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MANUFACTURER = bytes([0x00, 0x7F, 0x55])


def u16(v):
    return struct.pack('<H', v)


def u32(v):
    return struct.pack('<I', v)


def counted(b):
    return u32(len(b)) + b


def header(product=b'ABC', major=1, minor=5, message=b''):
    return b'ZellUpdateFile' + u16(4) + counted(product) + u16(major) + u16(minor) + counted(message) + bytes(6)


def portion(data, delay):
    return u32(1) + counted(data) + u32(delay)


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def load_update(examples):
    for name in ('demo.upd', 'demo-1.syx', 'demo-2.syx'):
        with open(os.path.join(examples, name), 'rb') as f:
            write('load_update', 'example-' + name, f.read())
    full = (header(b'Pad', 2, 7, b'one\\ntwo') + u32(3) + counted(b'win:x:name:Pad A$Pad B:ideal:512:chunks:no')
            + u32(5) + counted(b'Mac$Other') + u32(2) + counted(bytes(range(10)))
            + portion(b'\xf0\x01\x02\xf7', 1000) + portion(b'', 0))
    seeds = {
        'fifty-two-byte-example': header() + portion(b'\xf0\x7e\xf7', 1000),
        'header-only': header(b'Synth', 4, 2),
        'every-record': full,
        'trailing-partial-tag': header() + portion(b'\xf0\xf7', 5) + b'\x01\x00',
        'portion-cut': (header() + portion(b'\xf0\x01\x02\xf7', 9))[:-6],
        'settings-cut': (header() + u32(3) + counted(b'win:x:max:1024'))[:-3],
        'unknown-tag': header() + u32(4),
        'wrong-version': b'ZellUpdateFile' + u16(3),
        'default-message': header(message=b'<sysex>'),
        'raw-three-messages': b'\xf0\x01\x02\xf7\xf0\x7e\x7f\x06\x01\xf7\xf0\x00\xf7\x0a\x00',
        'raw-without-end': b'\xf0\x7e\x01',
    }
    for name, data in seeds.items():
        write('load_update', name, data)


def port_settings():
    texts = [b'win:x:name:Port A$Port B:ideal:512:chunks:no', b'win:x:ideal:1:max:2:delay:3:unprepdelay:4:chunks:0',
             b'win', b'win::delay:7', b'mac:x:ideal:100', b':win:ideal:100', b'win:x:ideal:abc',
             b'win:x:ideal: 256', b'win:x:ideal:256bytes', b'win:x:delay:-5', b'win:x:max:99999999999',
             b'win:x:name:A$$B', b'win:x:name:A$', b'win:x:IDEAL:100:Name:Q', b'win:x:name:A:B',
             b'win:x:ideal:10:max', b'win:x:speed:ideal:ideal:9', b'win:x:name: A \x00B', b'win:x:chunks:YES',
             b'win:demo:name:Demo Synth$Demo Synth MIDI 1:ideal:512:max:1024:delay:20:unprepdelay:10']
    for i, text in enumerate(texts):
        write('port_settings', 'text-%02d' % i, text)


def sysex_assembler():
    # options, number of cuts, cuts, stream
    streams = [
        (0x00, [], b'\x01\xf7\xf0\x10\x20\xf7'),
        (0x00, [3], b'\xf0\x01\x02\x03\xf7'),
        (0x40, [1, 2], b'\xf0\x41\xf0\x42\xf7\xf0\xf8\x90\xf7'),
        (0x00, [5, 1], b'\xf0\x01\x02\x03\xf7\xf0\x09\xf7'),
        (0x80, [7], b'\xf0\x11\x22\x33'),
        (0x80, [2], b'\x11\xf7\xf0\x22'),
        (0x00, [13], bytes([0xF0]) + MANUFACTURER + bytes([0x73, 1, 2, 3, 4, 5, 6, 0x20, 0xF7])),
    ]
    for i, (options, cuts, stream) in enumerate(streams):
        write('sysex_assembler', 'stream-%02d' % i, bytes([options, len(cuts)] + cuts) + stream)


def identity_reply(manufacturer, version_bytes, name):
    body = bytes([0xF0, 0x7E, 0x00, 0x06, 0x02]) + manufacturer + bytes([0x01, 0x00, 0x01]) + bytes(version_bytes)
    body += bytes(5) + (name + bytes(16))[:16] + b'\xf7'
    return body


def device_replies():
    status = lambda b: bytes([0xF0]) + MANUFACTURER + bytes([0x73, 1, 2, 3, 4, 5, 6, b, 0xF7])
    seeds = {
        'status-accepted': status(0x00), 'status-installing': status(0x20), 'status-failed': status(0x21),
        'status-short': status(0x00)[:12], 'status-long': status(0x00) + b'\xf7',
        'identity-three-byte-id': identity_reply(MANUFACTURER, [0, 1, 0, 5], b'Pad'),
        'identity-one-byte-id': identity_reply(b'\x41', [1, 2, 3, 4], b'Pad\x7fX'),
        'identity-cut-short': identity_reply(MANUFACTURER, [0, 1, 0, 5], b'Pad')[:12],
        'identity-wrong-device-id': b'\xf0\x7e\x7f\x06\x02\x41\x01\x00',
        'identity-request': b'\xf0\x7e\x7f\x06\x01\xf7',
    }
    for name, data in seeds.items():
        write('device_replies', name, data)


def chunking():
    def worked_example():
        data = bytearray(b'\x11' * 5000)
        for at in (1500, 2600, 4999):
            data[at] = 0xF7
        return bytes(data)
    seeds = {
        'worked-example': (1024, 3072, worked_example()),
        'small-ideal': (4, 8, b'\xf0\x01\x02\xf7\xf0\x03\x0a\x04\x05\x06\xf7'),
        'ideal-above-max': (3072, 1024, b'\x11' * 7000),
        'ideal-zero': (0, 3072, b'\xf7' * 2100),
        'ideal-negative': (-1, 3072, b'\xf0' + b'\x11' * 3000 + b'\xf7'),
        'max-negative': (16, -1, b'\xf0' + b'\x11' * 100 + b'\xf7'),
        'line-feed': (8, 64, b'\xf0\x01\x02\x03\x04\x05\x06\x0a\x07\x08\xf7'),
    }
    for name, (ideal, maximum, data) in seeds.items():
        write('chunking', name, struct.pack('<ii', ideal, maximum) + data)


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def smf_chunk(kind, body, length=None):
    return kind + struct.pack('>I', len(body) if length is None else length) + body


def smf(fmt, division, tracks, declared=None):
    header = struct.pack('>HHH', fmt, len(tracks) if declared is None else declared, division)
    return smf_chunk(b'MThd', header) + b''.join(smf_chunk(b'MTrk', t) for t in tracks)


def standard_midi_file():
    def sysex(delta, data):
        return varlen(delta) + b'\xf0' + varlen(len(data)) + data

    def escape(delta, data):
        return varlen(delta) + b'\xf7' + varlen(len(data)) + data

    def tempo(delta, us):
        return varlen(delta) + b'\xff\x51\x03' + struct.pack('>I', us)[1:]

    end = b'\x00\xff\x2f\x00'
    notes = b'\x00\x90\x3c\x40\x00\x3e\x40\x60\x80\x3c\x00\x00\x3e\x00'
    seeds = {
        'format-0': smf(0, 96, [tempo(0, 500000) + notes + sysex(0, b'\x7e\x7f\x06\x01\xf7')
                                + b'\x00\xff\x03\x04name' + end]),
        'format-1-tempo-map': smf(1, 480, [tempo(0, 500000) + tempo(960, 250000) + end,
                                           sysex(480, b'\x01\xf7') + sysex(720, b'\x02\xf7') + end]),
        'smpte-29': smf(0, 0xE3 << 8 | 80, [sysex(0, b'\x01\xf7') + sysex(80, b'\x02\xf7') + end]),
        'split-and-escapes': smf(0, 96, [sysex(0, b'\x01\x02') + b'\x00\xff\x01\x00' + escape(10, b'\x03\xf7')
                                         + escape(0, b'\xf8') + end]),
        'running-status-around-sysex': smf(0, 96, [b'\x00\xc0\x05\x00\x06' + sysex(0, b'\x01\xf7')
                                                   + b'\x00\xd0\x10\x00\x11' + end]),
        'unknown-chunk': smf(1, 96, [end])[:14] + smf_chunk(b'XFIH', b'MTrk') + smf_chunk(b'MTrk', end),
        'track-past-end': smf(0, 96, [], declared=1)[:14] + smf_chunk(b'MTrk', sysex(0, b'\x01\xf7'), 100),
        'split-unfinished': smf(0, 96, [sysex(0, b'\x01') + end]),
        'format-2': smf(2, 96, [end, end]),
    }
    for name, data in seeds.items():
        write('standard_midi_file', name, data)


if __name__ == '__main__':
    load_update(sys.argv[1])
    port_settings()
    sysex_assembler()
    device_replies()
    chunking()
    standard_midi_file()
