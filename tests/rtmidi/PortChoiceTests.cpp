#include <gtest/gtest.h>

#include "PortChoice.h"

namespace {

struct ChoiceCase {
    const char* what;
    std::set<std::string> names;
    std::vector<std::string> listed;
    int chosen;
};

}  // namespace

TEST(PortChoice, PicksExactNamesBeforeSubstringsAndNeverThroughPortsOrSynthesizers) {
    const std::vector<std::string> alsa = {"Midi Through:Midi Through Port-0 14:0",
                                           "USB Pad Pro:USB Pad Pro MIDI 1 24:0", "Pad:Pad MIDI 1 20:0",
                                           "FLUID Synth (1234):Synth input port (1234:0) 128:0"};
    const ChoiceCase cases[] = {
        {"the client name is exact, the earlier port only contains it", {"Pad"}, alsa, 2},
        {"the port name without its numbers is exact", {"Pad MIDI 1"}, alsa, 2},
        {"only a substring matches: the first such port", {"Pro"}, alsa, 1},
        {"no names: the first port that may be the device", {}, alsa, 1},
        {"a through port is never the device, even named", {"Midi Through"}, alsa, -1},
        {"a software synthesizer is never the device", {"FLUID Synth (1234)"}, alsa, -1},
        {"case counts", {"pad"}, alsa, -1},
        {"JACK names: client and port", {"Pad"}, {"Other:Pad Bridge", "Pad:in"}, 1},
        {"the whole name as listed", {"Pad-01:Pad"}, {"Pad:Pad", "Pad-01:Pad"}, 1},
        {"a numbered prefix is dropped as on Windows", {"Foo"}, {"2- Foo"}, 0},
        {"nothing listed", {"Pad"}, {}, -1},
        {"the operating system's synthesizer as everywhere", {}, {"Microsoft GS Wavetable Synth", "Pad"}, 1},
    };
    for (const ChoiceCase& c : cases) EXPECT_EQ(ChoosePort(c.names, c.listed), c.chosen) << c.what;
}

TEST(PortChoice, SplitsListedNamesIntoTheNamesPeopleKnow) {
    const struct {
        const char* listed;
        std::vector<std::string> parts;
    } cases[] = {
        {"Pad:Pad MIDI 1 20:0", {"Pad:Pad MIDI 1 20:0", "Pad", "Pad MIDI 1"}},
        {"system:midi_playback_1", {"system:midi_playback_1", "system", "midi_playback_1"}},
        {"Pad 20:0", {"Pad 20:0", "Pad"}},
        {"Pad", {"Pad"}},
        {"Pad 20:", {"Pad 20:", "Pad 20", ""}},  // not an address: split at its colon only
        {"Synth 3", {"Synth 3"}},
    };
    for (const auto& c : cases) EXPECT_EQ(PortNameParts(c.listed), c.parts) << c.listed;
}

TEST(PortChoice, MacNamesServeOnlyOnMacOSAndOnlyWhenThereAreAny) {
    Update withMac;
    withMac.winPort.names = {"Pad Win"};
    withMac.macNames = {"Pad Mac", "Pad Mac 2"};
    Update withoutMac;
    withoutMac.winPort.names = {"Pad Win"};

    const std::set<std::string> win = {"Pad Win"};
    const std::set<std::string> mac = {"Pad Mac", "Pad Mac 2"};
    EXPECT_EQ(PortNamesFor(withMac, HostPlatform::MacOS), mac);
    EXPECT_EQ(PortNamesFor(withMac, HostPlatform::Linux), win);
    EXPECT_EQ(PortNamesFor(withMac, HostPlatform::Windows), win);
    EXPECT_EQ(PortNamesFor(withoutMac, HostPlatform::MacOS), win);
}
