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
// A device named exactly as one of the names comes before any that only contains one: "Synth"
// must not find "Synth Pro" listed first. Otherwise the lowest id that matches.
int FirstMatch(const std::vector<std::pair<int, std::string>>& devices, const std::set<std::string>& names) {
    if (!names.empty()) {
        for (const auto& [id, name] : devices)
            if (MatchesPortNameExactly(names, name)) return id;
    }
    for (const auto& [id, name] : devices)
        if (MatchesPortName(names, name)) return id;
    return NoDevice;
}
}  // namespace

int FindOutputDevice(const std::set<std::string>& names) { return FirstMatch(ListOutputDevices(), names); }

int FindInputDevice(const std::set<std::string>& names) { return FirstMatch(ListInputDevices(), names); }

namespace {
std::string NameOf(const std::vector<std::pair<int, std::string>>& devices, int id) {
    for (const auto& device : devices)
        if (device.first == id) return device.second;
    return "";
}
}  // namespace

std::string OutputDeviceName(int id) { return NameOf(ListOutputDevices(), id); }

std::string InputDeviceName(int id) { return NameOf(ListInputDevices(), id); }

int FindInputDeviceFor(const PortSettings& settings, int outputId) {
    const std::vector<std::pair<int, std::string>> inputs = ListInputDevices();
    if (!settings.pickedByHand && !settings.names.empty()) {
        for (const auto& [id, name] : inputs)
            if (MatchesPortNameExactly(settings.names, name)) return id;
    }
    const std::string output = OutputDeviceName(outputId);
    std::vector<std::string> names;
    for (const auto& device : inputs) names.push_back(device.second);
    const int paired = PairedInput(output, names);
    if (paired >= 0 && MatchesPortName({}, names[static_cast<std::size_t>(paired)]))
        return inputs[static_cast<std::size_t>(paired)].first;
    // A device whose input is named unlike its output in every way is still found by the names.
    return FirstMatch(inputs, settings.names);
}

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
