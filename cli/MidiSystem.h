#pragma once
// The operating system's MIDI as the command line sees it: which ports there are, and a MidiPort
// for an update's port settings. Each platform supplies one implementation; the command line
// never calls a MIDI API itself.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MidiPort.h"
#include "PortSettings.h"

// One output or input port as the port search sees it.
struct MidiPortEntry {
    int id = 0;            // the system's index of the port, counted per direction
    std::string name;      // exactly as the system lists it
    bool skipped = false;  // the search never takes it (the system's own synthesizer or mapper)
};

class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // A short name for messages, such as "winmm".
    virtual std::string Name() const = 0;
    // Every port the system lists, in id order.
    virtual std::vector<MidiPortEntry> OutputPorts() = 0;
    virtual std::vector<MidiPortEntry> InputPorts() = 0;
    // A port that opens the devices `settings.names` pick out when it is first asked to connect.
    virtual std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) = 0;
};

// Opens a MIDI system, or leaves the pointer empty and says why in `error`.
using MidiSystemFactory = std::function<std::unique_ptr<MidiSystem>(std::string& error)>;

// The platform's MIDI system; where there is none, `error` reads
// "no MIDI system available: <reason>".
std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(std::string& error);
// The same for the system named `api` (--api: "alsa", "jack", "coremidi" where RtMidi is built
// in, "winmm" on Windows); an empty name takes the first that is available.
std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error);
