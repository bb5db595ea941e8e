#pragma once
// The limits of each MIDI system RtMidi reaches, and the pacing RtMidiPort adds for them, as a
// forecast: the same pieces, the same waits for the system's queue to drain, the same pause after
// a port opens, without sending anything.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MidiConnection.h"
#include "MidiSystem.h"
#include "RtMidiPort.h"

// The limits of the system --api names ("alsa", "jack", "coremidi"); any other name gets the
// cautious ones of a system not known better (a cable's speed).
TransportLimits LimitsOfMidiApi(const std::string& api);

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
    // The end of a chunk that a system which encodes events keeps for the next one, as the port does.
    std::vector<std::uint8_t> held;
};
