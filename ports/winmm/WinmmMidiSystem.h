#pragma once
// MIDI over winmm and the Windows MIDI port (off Windows: over the simulated winmm layer, which is
// how its tests run). winmm opens no virtual ports, so nothing here serves a device.

#include "MidiSystem.h"

class WinmmMidiSystem : public MidiSystem {
public:
    std::string Name() const override { return "winmm"; }
    std::vector<MidiPortEntry> OutputPorts() override;
    std::vector<MidiPortEntry> InputPorts() override;
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override;
    MidiPortPair PortsFor(const PortSettings& settings) override;
};
