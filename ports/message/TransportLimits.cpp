#include "TransportLimits.h"

TransportLimits MidiSystemLimits(const std::string& system) {
    TransportLimits limits;
    if (system == "alsa") {
        // RtMidi passes the bytes through alsa-lib's event encoder, which ends a SysEx event only
        // at its F7 or when its buffer (grown, and emptied, to fit the longest piece so far) is
        // full, and warns of an incomplete message for what is left: so whole messages, and long
        // SysEx in parts exactly a piece long.
        limits.wholeMessages = true;
        // Every event goes out direct, never through this client's own pool. Toward a sound card's
        // port the kernel writes it into the port's raw MIDI buffer (a page, 4 KB by default),
        // drops what does not fit, and the cable behind it may empty that buffer at only 31250
        // baud: 3.125 bytes a millisecond. Toward another program's port the event waits in that
        // program's input pool, 200 cells of 28 bytes by default with one more cell per event: 16
        // pieces of 256 bytes take 176, and a program empties its pool far faster than a cable.
        // An event larger than the pool (about 5.5 KB) could never arrive, and alsa-lib refuses
        // one of its 16 KB output buffer's size; pieces of 256 bytes stay far below both.
        limits.maxPieceBytes = 256;
        limits.queueBytes = 4096;
        limits.drainBytesPerMs = 3.125;
    } else if (system == "jack") {
        // RtMidi makes each message one JACK event. JACK wants every event a whole message with
        // its status byte and lets only SysEx come in parts (the first from F0, the last to F7,
        // which readers join). RtMidi queues each message whole in a 16 KB ring that the JACK
        // cycle empties into a port buffer of its own size, and drops without a word a message
        // the ring cannot hold. Parts of 4 KB stay well inside both, and inside what JACK's raw
        // MIDI backend takes in one event; at most 8 KB waiting, and 160 bytes a millisecond is
        // slower than the slowest cycle drains them. Bridges to ALSA hardware pass less: they make
        // only the first message of an event an ALSA event; jackd's sequencer backend keeps the
        // first 1 KB of a SysEx message and loses its later parts, and a2jmidid drops every event
        // longer than 16 bytes. Long SysEx reaches hardware only over a raw MIDI backend, or
        // through the ALSA sequencer directly.
        limits.wholeMessages = true;
        limits.maxPieceBytes = 4096;
        limits.queueBytes = 8192;
        limits.drainBytesPerMs = 160.0;
        // A connection takes effect at a cycle boundary; what is queued before may go to the old
        // graph. A few cycles of the slowest usual period.
        limits.settleMs = 100;
    } else if (system == "coremidi") {
        // RtMidi refuses any message that does not begin with F0 and is longer than 3 bytes, so
        // the rest of a SysEx message cannot follow in a part of its own: each message goes whole,
        // and RtMidi itself cuts one longer than a CoreMIDI packet (64 KB) into packets, which
        // CoreMIDI allows for SysEx alone. CoreMIDI also wants complete messages without running
        // status. It queues what it is given; the cable behind a device may empty it at 31250 baud.
        limits.wholeMessages = true;
        limits.maxPieceBytes = 0;
        limits.queueBytes = 8192;
        limits.drainBytesPerMs = 3.125;
    } else {
        limits.maxPieceBytes = 1024;
        limits.queueBytes = 8192;
        limits.drainBytesPerMs = 3.125;
    }
    return limits;
}
