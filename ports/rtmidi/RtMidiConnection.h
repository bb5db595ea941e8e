#pragma once
// The MidiConnection over RtMidi, and the choice of MIDI system. The only file that includes
// RtMidi: everything above it is tested without one.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "MidiConnection.h"

// No MIDI system can be used; the text says which were tried and why each failed.
class MidiSystemUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The systems this build can use, by the names --api takes ("alsa", "jack", "coremidi").
std::vector<std::string> CompiledMidiApis();

// Opens the MIDI system named `api`, or with an empty name the first one that is available (on
// Linux the ALSA sequencer, else a running JACK server; CoreMIDI on macOS). `clientName` is what
// other programs see this program's ports under. Throws MidiSystemUnavailable, or
// std::invalid_argument for a name that is no MIDI system of this build.
std::unique_ptr<MidiConnection> OpenRtMidiConnection(const std::string& api, const std::string& clientName);

// The system (as --api names it) that OpenRtMidiConnection(api, ...) would take, as far as that is
// known without opening one or asking a server: the named one if it is built in, else the first
// built in whose presence is cheap to see (the ALSA sequencer's device) or that is always there
// (CoreMIDI). Empty where it is not known: the choice would depend on a JACK server.
std::string ExpectedMidiApi(const std::string& api);

// The name --api takes for the system a connection uses ("alsa", "jack", "coremidi").
std::string MidiApiShortName(const MidiConnection& connection);
