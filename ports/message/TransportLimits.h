#pragma once
// What each MIDI system carries and in which pieces: the limits the message port keeps, in one
// place for the connection that reports them and for the tests that hold them against models of
// each system.

#include <cstddef>
#include <cstdint>
#include <string>

// How much a MIDI system carries without dropping anything. A long SysEx message is handed over
// in pieces of at most `maxPieceBytes`, and no more than `queueBytes` may wait in the system at a
// time, which it takes away at no less than `drainBytesPerMs`. A new connection carries data only
// after `settleMs`.
struct TransportLimits {
    std::size_t maxPieceBytes = 1024;
    std::size_t queueBytes = 8192;
    double drainBytesPerMs = 160.0;
    // After an output is opened, how long until the system really delivers through it.
    std::uint32_t settleMs = 0;
    // The system takes only whole MIDI messages: each piece is one complete message with its
    // status byte (a message sent under running status gets its status written out), a real-time
    // byte on its own, or a part of a SysEx message exactly `maxPieceBytes` long counted from its
    // F0 (with a `maxPieceBytes` of 0 a message is never cut). Bytes of a message that a chunk
    // leaves incomplete wait for the rest of it in the next chunk. Off, the bytes are cut into
    // pieces wherever `maxPieceBytes` falls, as for a system that carries a raw byte stream.
    bool wholeMessages = false;
};

// The limits of a system by the name --api takes ("alsa", "jack", "coremidi"); any other name
// gets the cautious defaults of a raw byte stream at cable speed.
TransportLimits MidiSystemLimits(const std::string& system);
