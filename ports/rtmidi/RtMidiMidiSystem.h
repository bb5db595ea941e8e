#pragma once
// MIDI on Linux and macOS: a MIDI system reached through RtMidi, the message port over it, and the
// device simulator on virtual ports of it.

#include <memory>
#include <string>

#include "MidiConnection.h"
#include "MidiSystem.h"

// The name other programs see this program's own MIDI clients under.
extern const char* const kMidiUpdateClientName;

class RtMidiMidiSystem : public MidiSystem {
public:
    // `api` as --api takes it ("alsa", "jack", "coremidi"; empty: the first available). Throws
    // MidiSystemUnavailable or std::invalid_argument.
    explicit RtMidiMidiSystem(const std::string& api);

    std::string Name() const override { return apiName; }
    std::vector<MidiPortEntry> OutputPorts() override;
    std::vector<MidiPortEntry> InputPorts() override;
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override;
    MidiPortPair PortsFor(const PortSettings& settings) override;
    std::unique_ptr<DeviceServer> ServeDevice(const std::string& name, SimulatedDevice& device,
                                              std::string& error) override;

private:
    std::string apiName;
    std::unique_ptr<MidiConnection> lister;
};
