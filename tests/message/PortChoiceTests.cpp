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
    for (const ChoiceCase& c : cases) EXPECT_EQ(FindListedPort(c.names, c.listed), c.chosen) << c.what;
}

// The input that goes with the chosen output, as JACK, Windows and the ALSA sequencer name a
// device's two ports.
TEST(PortChoice, TheInputIsTheChosenOutputsDevice) {
    const struct {
        const char* what;
        std::set<std::string> names;
        bool pickedByHand;
        std::string output;
        std::vector<std::string> inputs;
        int chosen;
    } cases[] = {
        // JACK
        {"JACK: RtMidi's second client of the name gets a number",
         {"Lab Port Seven-01:Lab Port Seven"}, true, "Lab Port Seven-01:Lab Port Seven",
         {"Other:Lab Port Seven", "Lab Port Seven:Lab Port Seven"}, 1},
        {"JACK: a client's midi_in and midi_out", {"Pad:midi_in"}, true, "Pad:midi_in",
         {"Keys:midi_out", "Pad:midi_out"}, 1},
        {"JACK: a bridge's playback and capture", {"a2j:Pad [20] (playback): Pad MIDI 1"}, true,
         "a2j:Pad [20] (playback): Pad MIDI 1",
         {"a2j:Keys [24] (capture): Keys MIDI 1", "a2j:Pad [20] (capture): Pad MIDI 1"}, 1},
        {"JACK: a bridge that numbers its directions", {"Pad"}, false, "Midi-Bridge:Pad:(playback_0) Pad MIDI 1",
         {"Midi-Bridge:Keys:(capture_0) Keys MIDI 1", "Midi-Bridge:Pad:(capture_0) Pad MIDI 1"}, 1},
        {"JACK: the only input of the output's client", {"system:midi_playback_1"}, true,
         "system:midi_playback_1", {"Keys:out", "system:midi_capture_1"}, 1},
        {"JACK: a client with several inputs is no guess", {"system:midi_playback_2"}, true,
         "system:midi_playback_2", {"system:midi_capture_1", "system:midi_capture_2"}, -1},
        // Windows
        {"Windows: MIDIOUT2 and MIDIIN2, never the first port's input", {"MIDIOUT2 (Pad)"}, true, "MIDIOUT2 (Pad)",
         {"Pad", "MIDIIN2 (Keys)", "MIDIIN2 (Pad)"}, 2},
        {"Windows: the same port number first", {"MIDIOUT3 (Pad)"}, true, "MIDIOUT3 (Pad)",
         {"MIDIIN2 (Pad)", "MIDIIN3 (Pad)"}, 1},
        {"Windows: another port number of the device", {"MIDIOUT3 (Pad)"}, true, "MIDIOUT3 (Pad)",
         {"MIDIIN2 (Pad)"}, 0},
        {"Windows: Out and In", {"2- Pad Out"}, true, "2- Pad Out", {"Pad In", "2- Pad In"}, 1},
        // ALSA sequencer
        {"ALSA: the same name; the same model at another client is another device", {"Pad:Pad MIDI 1 24:0"},
         true, "Pad:Pad MIDI 1 24:0", {"Pad:Pad MIDI 1 20:0", "Pad:Pad MIDI 1 24:0"}, 1},
        {"ALSA: RtMidi's ports, a client of one name for each direction", {"Pad:Pad 131:0"}, true,
         "Pad:Pad 131:0", {"Midi Through:Midi Through Port-0 14:0", "Pad:Pad 130:0"}, 1},
        {"ALSA: two such devices of one name are no guess", {"Pad:Pad 131:0"}, true, "Pad:Pad 131:0",
         {"Pad:Pad 130:0", "Pad:Pad 128:0"}, -1},
        {"ALSA: a client's ports named by direction", {"Pad:Pad Out 20:0"}, true, "Pad:Pad Out 20:0",
         {"Pad:Pad In 24:1", "Pad:Pad In 20:1"}, 1},
        // Which rule first
        {"the file's names that match an input exactly come first", {"MIDIOUT2 (Pad)", "Pad Reply"}, false,
         "MIDIOUT2 (Pad)", {"MIDIIN2 (Pad)", "Pad Reply"}, 1},
        {"picked by hand: its own input before one the name matches", {"Pad"}, true, "Pad:Pad MIDI 1 24:0",
         {"Pad:Pad MIDI 1 20:0", "Pad:Pad MIDI 1 24:0"}, 1},
        {"the file's names match only in part: the paired input first", {"Pad"}, false, "MIDIOUT2 (Pad)",
         {"USB Pad Hub", "MIDIIN2 (Pad)"}, 1},
        {"no output open: the names alone", {"Pad"}, false, "", {"Keys", "Pad In"}, 1},
        {"names unlike in every way: the names still find it", {"Pad"}, false, "Pad Sender", {"Pad Receiver"}, 0},
    };
    for (const auto& c : cases) {
        PortSettings settings;
        settings.names = c.names;
        settings.pickedByHand = c.pickedByHand;
        EXPECT_EQ(ChooseInput(settings, c.output, c.inputs), c.chosen) << c.what;
    }
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
