// The platform's MIDI where this build has none: every command that needs MIDI says so.

#include "MidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string&, std::string& error) {
    error = "no MIDI system available: this build has no MIDI support for this platform";
    return nullptr;
}

std::unique_ptr<TransportPacing> PlatformTransportPacing(const std::string&) { return nullptr; }
