#include "PiecePacing.h"

#include "Clock.h"

PiecePacing::PiecePacing(std::string apiName, const TransportLimits& transportLimits)
    : api(std::move(apiName)), limits(transportLimits), pacer(transportLimits), cutter(transportLimits.maxPieceBytes) {}

void PiecePacing::Opened() {
    if (limits.settleMs != 0) SleepMs(limits.settleMs);
}

// As MessagePort hands a chunk over: the same pieces, each admitted to the system's queue.
void PiecePacing::Carry(const std::uint8_t* data, std::size_t length) {
    std::size_t stray = 0;
    for (const std::vector<std::uint8_t>& piece : PiecesFor(limits, cutter, data, length, stray))
        pacer.Admit(piece.size());
}

// A message that never ended is not handed over, as the port does not hand it over.
void PiecePacing::Flush() { cutter.TakeHeld(); }
