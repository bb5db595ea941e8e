#include "PortNames.h"

const char* const kExcludedPortNames[2] = {"Microsoft GS Wavetable", "Microsoft MIDI Mapper"};

std::string NormalisePortName(const std::string& deviceName) {
    std::size_t i = 0;
    while (i < deviceName.size() && deviceName[i] >= '0' && deviceName[i] <= '9') ++i;
    if (i < deviceName.size() && deviceName[i] == '-') ++i;
    while (i < deviceName.size() && deviceName[i] == ' ') ++i;
    return deviceName.substr(i);
}

namespace {
bool IsExcluded(const std::string& normalised) {
    for (const char* excluded : kExcludedPortNames)
        if (normalised.find(excluded) != std::string::npos) return true;
    return false;
}
}  // namespace

bool MatchesPortNameExactly(const std::set<std::string>& names, const std::string& deviceName) {
    const std::string n = NormalisePortName(deviceName);
    if (IsExcluded(n)) return false;
    // A name picked from the list of devices arrives as listed, prefix and all; it must still
    // find the device it was picked from.
    return names.count(n) != 0 || names.count(deviceName) != 0;
}

bool MatchesPortName(const std::set<std::string>& names, const std::string& deviceName) {
    const std::string n = NormalisePortName(deviceName);
    if (IsExcluded(n)) return false;
    if (names.empty()) return true;
    if (names.count(n) != 0 || names.count(deviceName) != 0) return true;
    if (n.empty()) return false;
    for (const std::string& m : names) {
        if (m.empty()) return true;
        if (m.size() <= n.size() && n.find(m) != std::string::npos) return true;
    }
    return false;
}
