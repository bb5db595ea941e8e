#pragma once
// The pacing MessagePort adds for a MIDI system's limits, as a forecast: the same pieces, the same
// waits for the system's queue to drain, the same pause after a port opens, without sending anything.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MidiConnection.h"
#include "TransportLimits.h"
#include "MidiSystem.h"
#include "MessagePort.h"

class PiecePacing : public TransportPacing {
public:
    PiecePacing(std::string api, const TransportLimits& limits);

    std::string Name() const override { return api; }
    void Opened() override;
    void Carry(const std::uint8_t* data, std::size_t length) override;
    void Flush() override;

private:
    std::string api;
    TransportLimits limits;
    PiecePacer pacer;
    // What a system of whole messages waits for, as the port keeps it.
    MessageCutter cutter;
};
