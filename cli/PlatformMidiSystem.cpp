// Which MIDI system the command line uses on this platform.

#include "MidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(std::string& error) { return OpenPlatformMidiSystem("", error); }

#ifdef _WIN32
#include "WinmmMidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error) {
    if (!api.empty() && api != "winmm") {
        error = "no MIDI system available: '" + api + "' is not built into this program (use winmm)";
        return nullptr;
    }
    return std::make_unique<WinmmMidiSystem>();
}

#elif defined(MIDIUPDATE_HAVE_RTMIDI)
#include "RtMidiConnection.h"
#include "RtMidiMidiSystem.h"

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error) {
    try {
        return std::make_unique<RtMidiMidiSystem>(api);
    } catch (const std::exception& e) {
        error = std::string("no MIDI system available: ") + e.what();
        return nullptr;
    }
}

#else

std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string&, std::string& error) {
    error = "no MIDI system available: this build has no MIDI support for this platform";
    return nullptr;
}

#endif
