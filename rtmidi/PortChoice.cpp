#include "PortChoice.h"

#include "PortNames.h"

namespace {

// Synthesizers that Linux and macOS desktops commonly run; a firmware update never goes there.
const char* const kSoftwareSynthesizers[] = {"TiMidity", "FLUID Synth", "FluidSynth", "Synth input port",
                                             "DLS Synth"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Drops a trailing " 20:0" (the ALSA sequencer's client and port numbers).
std::string WithoutAddress(const std::string& name) {
    std::size_t end = name.size();
    std::size_t i = end;
    while (i > 0 && IsDigit(name[i - 1])) --i;
    if (i == end || i == 0 || name[i - 1] != ':') return name;
    std::size_t colon = --i;
    while (i > 0 && IsDigit(name[i - 1])) --i;
    if (i == colon || i == 0 || name[i - 1] != ' ') return name;
    return name.substr(0, i - 1);
}

}  // namespace

std::vector<std::string> PortNameParts(const std::string& listedName) {
    std::vector<std::string> parts{listedName};
    const std::string bare = WithoutAddress(listedName);
    const std::size_t colon = bare.find(':');
    if (colon != std::string::npos) {
        parts.push_back(bare.substr(0, colon));
        parts.push_back(bare.substr(colon + 1));
    } else if (bare != listedName) {
        parts.push_back(bare);
    }
    return parts;
}

bool IsNeverTheDevice(const std::string& listedName) {
    for (const std::string& part : PortNameParts(listedName)) {
        // ALSA's "Midi Through", and through ports of other systems.
        if (part.find("Through") != std::string::npos) return true;
        for (const char* synth : kSoftwareSynthesizers)
            if (part.find(synth) != std::string::npos) return true;
    }
    return false;
}

int ChoosePort(const std::set<std::string>& names, const std::vector<std::string>& listed) {
    int firstMatch = -1;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (IsNeverTheDevice(listed[i])) continue;
        bool matches = false;
        for (const std::string& part : PortNameParts(listed[i])) {
            if (!names.empty() && MatchesPortNameExactly(names, part)) return static_cast<int>(i);
            matches = matches || MatchesPortName(names, part);
        }
        if (matches && firstMatch < 0) firstMatch = static_cast<int>(i);
    }
    return firstMatch;
}
