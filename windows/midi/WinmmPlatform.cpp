// winmm is the MIDI system of the Windows programs.

#include "WinmmMidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error) {
    if (!api.empty() && api != "winmm") {
        error = "no MIDI system available: '" + api + "' is not built into this program (use winmm)";
        return nullptr;
    }
    return std::make_unique<WinmmMidiSystem>();
}
