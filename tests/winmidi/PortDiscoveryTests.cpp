// The device search over the system's device lists, and the lists in the log.

#include <gtest/gtest.h>

#include <ostream>

#include <set>
#include <string>
#include <vector>

#include "LayerTestSupport.h"
#include "PortDiscovery.h"
#include "TestSupport.h"
#include "WindowsMidiPort.h"

namespace {

class PortDiscovery : public LayerTest {};

struct SearchCase {
    const char* name;
    std::vector<std::string> outputs;
    std::vector<int> absentOutputs;  // listed, but their capabilities cannot be read
    std::set<std::string> names;
    int expected;
};

// Test names show the case's name, not its bytes.
void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class DeviceSearch : public LayerTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(DeviceSearch, FindsTheLowestMatchingId) {
    const SearchCase& c = GetParam();
    for (const std::string& name : c.outputs) {
        winmm_layer::AddOutput(name);
        winmm_layer::AddInput(name);
    }
    for (int id : c.absentOutputs) {
        winmm_layer::SetOutputPresent(id, false);
        winmm_layer::SetInputPresent(id, false);
    }
    EXPECT_EQ(FindOutputDevice(c.names), c.expected);
    EXPECT_EQ(FindInputDevice(c.names), c.expected);
}

const std::string kSynth = "Microsoft GS Wavetable Synth";
const std::string kMapper = "Microsoft MIDI Mapper";

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceSearch,
    ::testing::Values(
        SearchCase{"NoDevicesAtAll", {}, {}, {"Foo"}, NoDevice},
        SearchCase{"NormalisedName", {kSynth, "2- Foo"}, {}, {"Foo"}, 1},
        SearchCase{"Substring", {"Bar", "USB Foo Bar"}, {}, {"Foo"}, 1},
        SearchCase{"CaseMatters", {"foo"}, {}, {"Foo"}, NoDevice},
        SearchCase{"NoNamesTakesTheFirstThatIsNotExcluded", {kSynth, kMapper, "Pad", "Keys"}, {}, {}, 2},
        SearchCase{"EmptyNameTakesAnyButTheSystemsOwn", {kSynth, "Keys"}, {}, {""}, 1},
        SearchCase{"DigitsOnlyMatchOnlyTheEmptyName", {"123"}, {}, {"Foo"}, NoDevice},
        SearchCase{"TwoMatchesTakeTheLowerId", {"Foo B", "Foo A"}, {}, {"Foo"}, 0},
        SearchCase{"UnreadableDeviceIsSkipped", {"Foo", "Foo 2"}, {0}, {"Foo"}, 1},
        SearchCase{"ChosenSynthesizerFindsNothing", {kSynth, "Pad"}, {}, {kSynth}, NoDevice},
        SearchCase{"NameAsListedFindsItsDevice", {"1- Foo", "2- Foo"}, {}, {"2- Foo"}, 1},
        // An exact name wins over a lower id that only contains it; among partial matches the
        // lower id still wins.
        SearchCase{"ExactNameBeforeALongerOne", {"Synth Pro", "Synth"}, {}, {"Synth"}, 1},
        SearchCase{"ExactNormalisedNameBeforeALongerOne", {"Synth Pro", "3- Synth"}, {}, {"Synth"}, 1},
        SearchCase{"ExactNameOfAnyOfTheNames", {"Synth Pro", "Keys"}, {}, {"Synth", "Keys"}, 1},
        SearchCase{"PartialMatchesOnlyTakeTheLowerId", {"Synth Pro", "Synth XL", "Pad"}, {}, {"Synth"}, 0}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

// The input a port opens beside its output, as Windows names a device's further ports.
TEST_F(PortDiscovery, ThePortListensOnTheInputOfTheOutputItOpened) {
    const struct {
        const char* what;
        std::set<std::string> names;
        bool pickedByHand;
        std::vector<std::string> outputs, inputs;
        std::string input;  // the input the port opens
    } cases[] = {
        {"picked by hand: MIDIIN2 for MIDIOUT2, not the first port's input", {"MIDIOUT2 (Pad)"}, true,
         {"Pad", "MIDIOUT2 (Pad)"}, {"Pad", "MIDIIN2 (Pad)"}, "MIDIIN2 (Pad)"},
        {"the file names the output only", {"MIDIOUT2 (Pad)"}, false, {kSynth, "MIDIOUT2 (Pad)"},
         {"Keys", "MIDIIN2 (Pad)"}, "MIDIIN2 (Pad)"},
        {"the file's names match the input exactly", {"Pad"}, false, {"Pad"}, {"MIDIIN2 (Pad)", "Pad"}, "Pad"},
        {"the file's names match in part: the paired input before the lowest id", {"Pad"}, false,
         {"MIDIOUT2 (Pad)"}, {"USB Pad Hub", "MIDIIN2 (Pad)"}, "MIDIIN2 (Pad)"},
        {"picked by hand among devices of one name", {"2- Pad"}, true, {"Pad", "2- Pad"}, {"Pad", "2- Pad"},
         "2- Pad"},
        {"no output: the names alone", {"Pad"}, false, {}, {"Keys", "Pad In"}, "Pad In"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winmm_layer::Reset();
        for (const std::string& name : c.outputs) winmm_layer::AddOutput(name);
        for (const std::string& name : c.inputs) winmm_layer::AddInput(name);
        PortSettings settings;
        settings.names = c.names;
        settings.pickedByHand = c.pickedByHand;
        WindowsMidiPort port(settings);
        port.Connect();
        EXPECT_EQ(port.OpenInputName(), c.input);
        port.Disconnect();
    }
}

TEST_F(PortDiscovery, OutputNamesAreListedAsTheSystemListsThem) {
    winmm_layer::AddOutput(kSynth);
    winmm_layer::AddOutput("2- Foo");
    winmm_layer::AddOutput("Gone");
    winmm_layer::SetOutputPresent(2, false);
    EXPECT_EQ(ListOutputPortNames(), (std::vector<std::string>{kSynth, "2- Foo"}));
}

TEST_F(PortDiscovery, ListInterfacesWritesBothListsToTheLog) {
    winmm_layer::AddOutput("Out A");
    winmm_layer::AddOutput("Out B");
    winmm_layer::AddOutput("Out C");
    winmm_layer::SetOutputPresent(2, false);
    winmm_layer::AddInput("In A");
    LogCapture log;
    ListInterfaces();
    EXPECT_EQ(log.Text(),
              "ListInterfaces output...\n"
              "  MIDI OUT port #0: 'Out A'\n"
              "  MIDI OUT port #1: 'Out B'\n"
              "ListInterfaces input...\n"
              "  MIDI IN  port #0: 'In A'\n");
}

TEST_F(PortDiscovery, ErrorTextsComeFromTheSystem) {
    EXPECT_EQ(MidiErrorText(MIDIERR_STILLPLAYING), "Cannot perform this operation while media data is still playing.");
    EXPECT_EQ(MidiErrorText(12345), "");
}

}  // namespace
