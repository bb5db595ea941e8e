#include "RtMidiMidiSystem.h"

#include "PortChoice.h"
#include "PortNames.h"
#include "RtMidiConnection.h"
#include "RtMidiPort.h"

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

}  // namespace

RtMidiMidiSystem::RtMidiMidiSystem(const std::string& api)
    : lister(OpenRtMidiConnection(api, kMidiUpdateClientName)) {
    apiName = MidiApiShortName(*lister);
}

std::vector<MidiPortEntry> RtMidiMidiSystem::OutputPorts() { return Entries(lister->OutputNames()); }

std::vector<MidiPortEntry> RtMidiMidiSystem::InputPorts() { return Entries(lister->InputNames()); }

std::unique_ptr<MidiPort> RtMidiMidiSystem::MakePort(const PortSettings& settings) {
    // The port gets clients of its own on the same system; the lister's stay for listing.
    return std::make_unique<RtMidiPort>(OpenRtMidiConnection(apiName, kMidiUpdateClientName), settings);
}
