#include "WinmmMidiSystem.h"

#include "PortDiscovery.h"
#include "PortNames.h"
#include "WindowsMidiPort.h"

namespace {
std::vector<MidiPortEntry> Entries(const std::vector<std::pair<int, std::string>>& devices) {
    std::vector<MidiPortEntry> entries;
    for (const auto& [id, name] : devices)
        entries.push_back({id, name, !MatchesPortName({}, name)});  // what even "any port" would not take
    return entries;
}
}  // namespace

std::vector<MidiPortEntry> WinmmMidiSystem::OutputPorts() { return Entries(ListOutputDevices()); }

std::vector<MidiPortEntry> WinmmMidiSystem::InputPorts() { return Entries(ListInputDevices()); }

std::unique_ptr<MidiPort> WinmmMidiSystem::MakePort(const PortSettings& settings) {
    return std::make_unique<WindowsMidiPort>(settings);
}

MidiPortPair WinmmMidiSystem::PortsFor(const PortSettings& settings) {
    const int output = FindOutputDevice(settings.names);
    return {OutputDeviceName(output), InputDeviceName(FindInputDeviceFor(settings, output))};
}
