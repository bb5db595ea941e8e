#include "PiecePacing.h"

#include "Clock.h"

TransportLimits LimitsOfMidiApi(const std::string& api) {
    TransportLimits limits;
    if (api == "jack") {
        // RtMidi queues each message whole in a 16 KB ring that the JACK cycle empties into a port
        // buffer of its own size; a message that does not fit is dropped. Pieces of 4 KB and at
        // most 8 KB waiting stay well inside both, and 160 bytes a millisecond is slower than the
        // slowest cycle drains them.
        limits.maxPieceBytes = 4096;
        limits.queueBytes = 8192;
        limits.drainBytesPerMs = 160.0;
        // A connection takes effect at a cycle boundary; what is queued before may go to the old
        // graph. A few cycles of the slowest usual period.
        limits.settleMs = 100;
    } else if (api == "alsa") {
        // RtMidi passes the bytes through alsa-lib's event encoder, which ends a SysEx event only
        // at its F7 or when its buffer (grown, and emptied, to fit the longest piece so far) is
        // full, and warns of an incomplete message for what is left.
        limits.encodesEvents = true;
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
    } else {
        limits.maxPieceBytes = 1024;
        limits.queueBytes = 8192;
        limits.drainBytesPerMs = 3.125;
    }
    return limits;
}

PiecePacing::PiecePacing(std::string apiName, const TransportLimits& transportLimits)
    : api(std::move(apiName)), limits(transportLimits), pacer(transportLimits) {}

void PiecePacing::Opened() {
    if (limits.settleMs != 0) SleepMs(limits.settleMs);
}

// As RtMidiPort hands a chunk over: the pieces it cuts, each admitted to the system's queue, and
// the short end of a message inside a chunk kept back for the next chunk where events are encoded.
void PiecePacing::Carry(const std::uint8_t* data, std::size_t length) {
    std::vector<std::uint8_t> bytes;
    bytes.swap(held);
    bytes.insert(bytes.end(), data, data + length);
    std::vector<std::vector<std::uint8_t>> pieces = SplitIntoPieces(bytes, limits.maxPieceBytes, limits.encodesEvents);
    if (limits.encodesEvents && !pieces.empty()) {
        const std::vector<std::uint8_t>& last = pieces.back();
        const bool whole =
            last.back() == 0xF7 || (limits.maxPieceBytes != 0 && last.size() == limits.maxPieceBytes);
        if (!whole) {
            held = std::move(pieces.back());
            pieces.pop_back();
        }
    }
    for (const std::vector<std::uint8_t>& piece : pieces) pacer.Admit(piece.size());
}

void PiecePacing::Flush() {
    if (held.empty()) return;
    pacer.Admit(held.size());
    held.clear();
}
