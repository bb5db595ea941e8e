#include "RtMidiMidiSystem.h"

#include <exception>
#include <utility>

#include "DeviceSimulator.h"
#include "PiecePacing.h"
#include "PortChoice.h"
#include "PortNames.h"
#include "RtMidiConnection.h"
#include "MessagePort.h"

const char* const kMidiUpdateClientName = "midiupdate";

namespace {

std::vector<MidiPortEntry> Entries(const std::vector<std::string>& names) {
    std::vector<MidiPortEntry> entries;
    for (std::size_t i = 0; i < names.size(); ++i) {
        MidiPortEntry entry;
        entry.id = static_cast<int>(i);
        entry.name = names[i];
        // What the search never takes: through ports, synthesizers, the system's own.
        entry.skipped = IsNeverTheDevice(names[i]) || !MatchesPortName({}, names[i]);
        entries.push_back(entry);
    }
    return entries;
}

// The simulator over a connection of its own, whose client carries the device's name.
class SimulatorOnItsOwnClient : public DeviceServer {
public:
    SimulatorOnItsOwnClient(std::unique_ptr<MidiConnection> connection, SimulatedDevice& device,
                            const std::string& name)
        : connection(std::move(connection)), simulator(*this->connection, device, name) {}
    bool Run(std::uint64_t timeoutMs) override { return simulator.Run(timeoutMs); }
    void OnArrival(std::function<void(const SimulatedDevice&)> callback) override {
        simulator.OnArrival(std::move(callback));
    }
    std::uint64_t MessagesIn() const override { return simulator.MessagesIn(); }
    std::uint64_t MessagesOut() const override { return simulator.MessagesOut(); }

private:
    std::unique_ptr<MidiConnection> connection;
    DeviceSimulator simulator;
};

}  // namespace

RtMidiMidiSystem::RtMidiMidiSystem(const std::string& api)
    : lister(OpenRtMidiConnection(api, kMidiUpdateClientName)) {
    apiName = MidiApiShortName(*lister);
}

std::vector<MidiPortEntry> RtMidiMidiSystem::OutputPorts() { return Entries(lister->OutputNames()); }

std::vector<MidiPortEntry> RtMidiMidiSystem::InputPorts() { return Entries(lister->InputNames()); }

std::unique_ptr<MidiPort> RtMidiMidiSystem::MakePort(const PortSettings& settings) {
    // The port gets clients of its own on the same system; the lister's stay for listing.
    return std::make_unique<MessagePort>(OpenRtMidiConnection(apiName, kMidiUpdateClientName), settings);
}

MidiPortPair RtMidiMidiSystem::PortsFor(const PortSettings& settings) {
    return ChoosePorts(settings, lister->OutputNames(), lister->InputNames());
}

std::unique_ptr<DeviceServer> RtMidiMidiSystem::ServeDevice(const std::string& name, SimulatedDevice& device,
                                                            std::string& error) {
    try {
        // The device's own client name: its ports show as the device's, never as this program's.
        return std::make_unique<SimulatorOnItsOwnClient>(OpenRtMidiConnection(apiName, name), device, name);
    } catch (const std::exception& e) {
        error = std::string("no MIDI system available: ") + e.what();
        return nullptr;
    }
}

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error) {
    try {
        return std::make_unique<RtMidiMidiSystem>(api);
    } catch (const std::exception& e) {
        error = std::string("no MIDI system available: ") + e.what();
        return nullptr;
    }
}

std::unique_ptr<TransportPacing> PlatformTransportPacing(const std::string& api) {
    const std::string system = ExpectedMidiApi(api);
    if (system.empty()) return nullptr;
    return std::make_unique<PiecePacing>(system, MidiSystemLimits(system));
}
