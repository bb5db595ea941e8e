#include "PortChoice.h"

#include "PortNames.h"

namespace {

// Synthesizers that Linux and macOS desktops commonly run; a firmware update never goes there.
const char* const kSoftwareSynthesizers[] = {"TiMidity", "FLUID Synth", "FluidSynth", "Synth input port",
                                             "DLS Synth"};

}  // namespace

std::vector<std::string> PortNameParts(const std::string& listedName) {
    std::vector<std::string> parts{listedName};
    const std::string bare = WithoutSequencerAddress(listedName);
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

int FindListedPort(const std::set<std::string>& names, const std::vector<std::string>& listed) {
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

namespace {

// The first of `listed` whose name or a part of it is exactly one of `names`, or -1.
int ChooseExactly(const std::set<std::string>& names, const std::vector<std::string>& listed) {
    if (names.empty()) return -1;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (IsNeverTheDevice(listed[i])) continue;
        for (const std::string& part : PortNameParts(listed[i]))
            if (MatchesPortNameExactly(names, part)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

int ChooseInput(const PortSettings& settings, const std::string& output, const std::vector<std::string>& inputs) {
    if (!settings.pickedByHand) {
        const int named = ChooseExactly(settings.names, inputs);
        if (named >= 0) return named;
    }
    const int paired = PairedInput(output, inputs);
    if (paired >= 0 && !IsNeverTheDevice(inputs[static_cast<std::size_t>(paired)])) return paired;
    // A device whose input is named unlike its output in every way is still found by the names.
    return FindListedPort(settings.names, inputs);
}

MidiPortPair ChoosePorts(const PortSettings& settings, const std::vector<std::string>& outputs,
                         const std::vector<std::string>& inputs) {
    MidiPortPair pair;
    const int out = FindListedPort(settings.names, outputs);
    if (out >= 0) pair.output = outputs[static_cast<std::size_t>(out)];
    const int in = ChooseInput(settings, pair.output, inputs);
    if (in >= 0) pair.input = inputs[static_cast<std::size_t>(in)];
    return pair;
}
