// winmm is the MIDI system of the Windows programs.

#include "WinmmMidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error) {
    if (!api.empty() && api != "winmm") {
        error = "no MIDI system available: '" + api + "' is not built into this program (use winmm)";
        return nullptr;
    }
    return std::make_unique<WinmmMidiSystem>();
}

// How long winmm takes over a long message is up to the driver behind the port: not known here.
std::unique_ptr<TransportPacing> PlatformTransportPacing(const std::string&) { return nullptr; }
