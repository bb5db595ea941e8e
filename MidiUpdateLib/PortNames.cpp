#include "PortNames.h"

#include <functional>

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

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A name as the ALSA sequencer lists it, "Pad:Pad MIDI 1 20:0": the name before the address, and
// the client number of the address ("20"); the whole name and no number when there is none.
struct SequencerName {
    std::string bare;
    std::string client;
};

SequencerName SplitSequencerAddress(const std::string& name) {
    std::size_t end = name.size();
    std::size_t i = end;
    while (i > 0 && IsDigit(name[i - 1])) --i;
    if (i == end || i == 0 || name[i - 1] != ':') return {name, ""};
    const std::size_t colon = --i;
    while (i > 0 && IsDigit(name[i - 1])) --i;
    if (i == colon || i == 0 || name[i - 1] != ' ') return {name, ""};
    return {name.substr(0, i - 1), name.substr(i, colon - i)};
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Drops what a bridge into JACK adds for the direction: "(playback)" and "(capture)", or with a
// port number, "(playback_0)".
std::string WithoutBridgeDirection(std::string text) {
    for (const char* direction : {"(playback", "(capture"}) {
        const std::string mark = direction;
        std::size_t at = text.find(mark);
        while (at != std::string::npos) {
            std::size_t end = at + mark.size();
            if (end < text.size() && text[end] == '_') {
                ++end;
                while (end < text.size() && IsDigit(text[end])) ++end;
            }
            if (end < text.size() && text[end] == ')') {
                text.erase(at, end + 1 - at);
                at = text.find(mark, at);
            } else {
                at = text.find(mark, at + 1);
            }
        }
    }
    return text;
}

// Drops Windows' "MIDIOUT" and "MIDIIN" in front of a device's further ports ("MIDIOUT2 (Pad)"),
// and with `keepNumber` off the port's number after it too.
std::string WithoutWinmmDirection(const std::string& text, bool keepNumber) {
    for (const char* direction : {"MIDIOUT", "MIDIIN"}) {
        const std::string mark = direction;
        if (text.compare(0, mark.size(), mark) != 0) continue;
        std::size_t end = mark.size();
        while (end < text.size() && IsDigit(text[end])) ++end;
        if (end < text.size() && text[end] != ' ') continue;  // a longer word: "MIDIINTERFACE"
        return (keepNumber ? text.substr(mark.size(), end - mark.size()) : std::string()) + text.substr(end);
    }
    return text;
}

// Drops a last word that names the direction: "Pad MIDI Out", "Pad MIDI In", "midi_out", and a
// name that is only that word.
std::string WithoutDirectionWord(const std::string& text) {
    const std::size_t cut = text.find_last_of(" _");
    const std::string word = cut == std::string::npos ? text : text.substr(cut + 1);
    for (const char* direction : {"out", "in", "output", "input"})
        if (SameIgnoringCase(word, direction)) return cut == std::string::npos ? "" : text.substr(0, cut);
    return text;
}

// JACK names a client that takes a name already in use "Pad-01", "Pad-02" and so on; RtMidi makes
// a client for each direction, so a device's two ports can sit on "Pad" and "Pad-01".
std::string WithoutClientNumber(const std::string& client) {
    const std::size_t n = client.size();
    if (n > 3 && client[n - 3] == '-' && IsDigit(client[n - 2]) && IsDigit(client[n - 1]))
        return client.substr(0, n - 3);
    return client;
}

// The name with every mark of direction removed, each part of "client:port" on its own; an ALSA
// address leaves only its client number. With `keepNumbers` the numbers Windows gives a device's
// ports and devices of one name ("MIDIOUT2", "2- ") stay, as they are counted alike both ways.
std::string DeviceName(const std::string& listed, bool keepNumbers) {
    const SequencerName name = SplitSequencerAddress(listed);
    const std::string bare = keepNumbers ? name.bare : NormalisePortName(name.bare);
    std::string result;
    std::size_t start = 0;
    for (bool first = true;; first = false) {
        const std::size_t colon = bare.find(':', start);
        const bool last = colon == std::string::npos;
        std::string part = bare.substr(start, last ? std::string::npos : colon - start);
        part = Trimmed(WithoutBridgeDirection(part));
        part = Trimmed(WithoutWinmmDirection(part, keepNumbers));
        part = Trimmed(WithoutDirectionWord(part));
        if (first && !last) part = WithoutClientNumber(part);
        result += (first ? "" : ":") + part;
        if (last) break;
        start = colon + 1;
    }
    if (result.empty()) return "";
    return name.client.empty() ? result : result + " @" + name.client;
}

// The client of a "client:port" name, with its ALSA client number where listed; "" for a name
// without a client.
std::string ClientOf(const std::string& listed) {
    const SequencerName name = SplitSequencerAddress(listed);
    const std::size_t colon = name.bare.find(':');
    if (colon == std::string::npos || colon == 0) return "";
    return WithoutClientNumber(name.bare.substr(0, colon)) + " @" + name.client;
}

}  // namespace

std::string WithoutSequencerAddress(const std::string& listedName) { return SplitSequencerAddress(listedName).bare; }

int PairedInput(const std::string& output, const std::vector<std::string>& inputs) {
    if (output.empty()) return -1;
    // From the closest likeness to the loosest; the first input alike at a level is the one.
    const std::function<std::string(const std::string&)> likenesses[] = {
        [](const std::string& name) { return name; },
        [](const std::string& name) { return DeviceName(name, true); },
        [](const std::string& name) { return DeviceName(name, false); },
    };
    for (const auto& likeness : likenesses) {
        const std::string wanted = likeness(output);
        if (wanted.empty()) continue;
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (likeness(inputs[i]) == wanted) return static_cast<int>(i);
    }
    const std::string client = ClientOf(output);
    if (!client.empty()) {
        int only = -1;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            if (ClientOf(inputs[i]) != client) continue;
            if (only >= 0) return -1;  // which of them is this device's cannot be told
            only = static_cast<int>(i);
        }
        if (only >= 0) return only;
    }
    // RtMidi on the ALSA sequencer gives each direction a client of its own, of one name ("Pad:Pad
    // 131:0" out, "Pad:Pad 130:0" in): the same name at another client is the pair when it is the
    // only input of that name (two devices of one model would be two).
    const std::string unaddressed = DeviceName(WithoutSequencerAddress(output), true);
    if (unaddressed.empty() || unaddressed == DeviceName(output, true)) return -1;
    int only = -1;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (DeviceName(WithoutSequencerAddress(inputs[i]), true) != unaddressed) continue;
        if (only >= 0) return -1;
        only = static_cast<int>(i);
    }
    return only;
}
