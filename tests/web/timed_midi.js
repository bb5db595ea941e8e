// A small Standard MIDI File made by hand for the page's tests: format 0, one track of SysEx
// events at distinct times, 96 ticks a quarter note at the default tempo (500000 us a quarter, so
// 5208.33 us a tick), then End of Track. Exports its bytes, each message with its time, and the
// file's end; run as a script it writes the file: node timed_midi.js OUT.mid
'use strict';

const TICKS_PER_QUARTER = 96;
const MS_PER_TICK = 500000 / TICKS_PER_QUARTER / 1000;
// Each message: ticks after the one before (the first at 0, where the send starts) and its length.
// The second is long enough that its length takes two bytes, and a sender cutting chunks would cut
// it; the third follows it by much more than the pace per byte, the fourth by a time no whole
// number of milliseconds.
const EVENTS = [[0, 24], [48, 520], [96, 6], [7, 40]];
const END_TICKS = 40;

function varLength(value) {
  const out = [value & 0x7F];
  for (let rest = value >> 7; rest > 0; rest >>= 7) out.unshift((rest & 0x7F) | 0x80);
  return out;
}
const be = (value, bytes) => Array.from({ length: bytes }, (_, i) => (value >> (8 * (bytes - 1 - i))) & 0xFF);
const ascii = (text) => Array.from(text, (c) => c.charCodeAt(0));

const messages = [];
const track = [];
let ticks = 0;
for (const [delta, length] of EVENTS) {
  ticks += delta;
  const bytes = [0xF0, 0x7D];
  while (bytes.length < length - 1) bytes.push((messages.length * 31 + bytes.length) & 0x7F);
  bytes.push(0xF7);
  messages.push({ timeMs: ticks * MS_PER_TICK, bytes });
  // A SysEx event: F0, the length of the rest, the rest (up to and with F7).
  track.push(...varLength(delta), 0xF0, ...varLength(length - 1), ...bytes.slice(1));
}
track.push(...varLength(END_TICKS), 0xFF, 0x2F, 0x00);
const bytes = Buffer.from([...ascii('MThd'), ...be(6, 4), ...be(0, 2), ...be(1, 2), ...be(TICKS_PER_QUARTER, 2),
  ...ascii('MTrk'), ...be(track.length, 4), ...track]);

module.exports = { bytes, messages, endMs: (ticks + END_TICKS) * MS_PER_TICK };

if (require.main === module) require('fs').writeFileSync(process.argv[2], bytes);
