// Which MIDI system the command line uses on this platform.

#include "MidiSystem.h"

#ifdef _WIN32
#include "WinmmMidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(std::string&) { return std::make_unique<WinmmMidiSystem>(); }

#else

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(std::string& error) {
    error = "no MIDI system available: this build has no MIDI support for this platform";
    return nullptr;
}

#endif
