#include "PortDiscovery.h"

#include "Log.h"
#include "PortNames.h"
#include "WinMidiApi.h"

std::vector<std::pair<int, std::string>> ListOutputDevices() {
    std::vector<std::pair<int, std::string>> devices;
    const UINT count = midiOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
        caps.szPname[sizeof(caps.szPname) - 1] = '\0';
        devices.emplace_back(static_cast<int>(id), caps.szPname);
    }
    return devices;
}

std::vector<std::pair<int, std::string>> ListInputDevices() {
    std::vector<std::pair<int, std::string>> devices;
    const UINT count = midiInGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
        caps.szPname[sizeof(caps.szPname) - 1] = '\0';
        devices.emplace_back(static_cast<int>(id), caps.szPname);
    }
    return devices;
}

namespace {
int FirstMatch(const std::vector<std::pair<int, std::string>>& devices, const std::set<std::string>& names) {
    for (const auto& [id, name] : devices)
        if (MatchesPortName(names, name)) return id;
    return NoDevice;
}
}  // namespace

int FindOutputDevice(const std::set<std::string>& names) { return FirstMatch(ListOutputDevices(), names); }

int FindInputDevice(const std::set<std::string>& names) { return FirstMatch(ListInputDevices(), names); }

void ListInterfaces() {
    LogMessage("%s output...\n", "ListInterfaces");
    for (const auto& [id, name] : ListOutputDevices()) LogMessage("  MIDI OUT port #%d: '%s'\n", id, name.c_str());
    LogMessage("%s input...\n", "ListInterfaces");
    for (const auto& [id, name] : ListInputDevices()) LogMessage("  MIDI IN  port #%d: '%s'\n", id, name.c_str());
}

std::vector<std::string> ListOutputPortNames() {
    std::vector<std::string> names;
    for (auto& device : ListOutputDevices()) names.push_back(std::move(device.second));
    return names;
}

std::string MidiErrorText(unsigned error) {
    char text[MAXERRORLENGTH];
    text[0] = '\0';
    midiInGetErrorTextA(static_cast<MMRESULT>(error), text, sizeof(text));
    text[sizeof(text) - 1] = '\0';
    return text;
}
