#include "MidiSystem.h"

std::unique_ptr<DeviceServer> MidiSystem::ServeDevice(const std::string&, SimulatedDevice&, std::string& error) {
    error = "no MIDI system available: this program was built without RtMidi";
    return nullptr;
}

MidiPortPair MidiSystem::PortsFor(const PortSettings&) { return {}; }
