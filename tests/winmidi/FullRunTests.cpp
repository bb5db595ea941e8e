// Whole updates through the real sender, the Windows MIDI port and the simulated winmm, with an
// instrument model behind the devices, on a simulated clock.

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "LayerTestSupport.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "VirtualDeviceModel.h"
#include "WindowsMidiPort.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// `count` messages of `size` bytes: F0, 7-bit filler that avoids line feeds, F7.
Bytes Messages(std::size_t count, std::size_t size, std::uint8_t seed) {
    Bytes out;
    for (std::size_t m = 0; m < count; ++m) {
        out.push_back(0xF0);
        for (std::size_t i = 2; i < size; ++i) out.push_back(static_cast<std::uint8_t>(0x10 + (seed + out.size() * 7u) % 0x50));
        out.push_back(0xF7);
    }
    return out;
}

// One message of 4000 bytes: cut at the maximum chunk of 3072 bytes, each piece framed alone.
const Bytes kBig = Messages(1, 4000, 2);
const Bytes kSmall = Messages(10, 100, 0);

Bytes BigOnWire() {
    Bytes wire(kBig.begin(), kBig.begin() + 3072);
    wire.push_back(0xF7);
    wire.push_back(0xF0);
    wire.insert(wire.end(), kBig.begin() + 3072, kBig.end());
    return wire;
}

Update MakeUpdate(const std::vector<Bytes>& portions) {
    Update update;
    update.productName = "Pad";
    update.version = {1, 5};
    update.winPort.names = {"Pad"};
    for (const Bytes& data : portions) update.portions.push_back({data, 0});
    return update;
}


struct RunCase {
    const char* name;
    std::vector<Bytes> portions;
    const char* behaviour;
    std::uint64_t missingUntilMs;  // the device is unplugged from the start until then
    unsigned goodSendsBeforeThePlugIsPulled;  // 0: it never is
    UpdateVerdict verdict;
    const char* text;
    bool wholeWire;  // the device received every portion intact
};

// Test names show the case's name, not its bytes.
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class WholeUpdate : public LayerTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(WholeUpdate, ReachesTheDeviceAndGivesTheRightVerdict) {
    const RunCase& c = GetParam();
    const Update update = MakeUpdate(c.portions);
    VirtualDeviceModel model(update, update.winPort, ParseDeviceBehaviour(c.behaviour));
    // The system's synthesizer comes first, as on a real machine, and the instrument's name has a
    // number in front.
    winmm_layer::AddOutput("Microsoft GS Wavetable Synth");
    const int out = winmm_layer::AddOutput("2- Pad");
    const int in = winmm_layer::AddInput("2- Pad");
    winmm_layer::AttachModel(&model, out, in);
    if (c.missingUntilMs > 0) {
        winmm_layer::SetOutputPresent(out, false);
        winmm_layer::SetInputPresent(in, false);
        clock.At(c.missingUntilMs, [=] {
            winmm_layer::SetOutputPresent(out, true);
            winmm_layer::SetInputPresent(in, true);
        });
    }
    if (c.goodSendsBeforeThePlugIsPulled > 0)
        winmm_layer::FailCall(winmm_layer::Call::LongMsg, MMSYSERR_NODRIVER, c.goodSendsBeforeThePlugIsPulled, 1000);

    ScopedLogMute mute;
    RecordingProgress progress;
    UpdateVerdict verdict;
    {
        WindowsMidiPort port(update.winPort);
        SimpleSysExSender sender(port);
        verdict = sender.Send(update, progress);
    }
    EXPECT_EQ(verdict, c.verdict);
    EXPECT_EQ(progress.Texts(ProgressEvent::Completed), std::vector<std::string>{c.text});
    const VirtualDeviceModel::Stats& stats = model.GetStats();
    EXPECT_EQ(stats.portionsCorrupt, 0u);
    if (c.wholeWire) {
        EXPECT_EQ(stats.portionsCompleted, c.portions.size());
        Bytes expected;
        for (const Bytes& p : c.portions) {
            const Bytes onWire = p == kBig ? BigOnWire() : p;
            expected.insert(expected.end(), onWire.begin(), onWire.end());
        }
        EXPECT_EQ(model.Wire(), expected);
    } else {
        EXPECT_LT(stats.portionsCompleted, c.portions.size());
    }
    // Everything opened was closed again.
    const winmm_layer::Stats layer = winmm_layer::GetStats();
    EXPECT_EQ(layer.openOutHandles + layer.openInHandles, 0u);
    EXPECT_EQ(layer.inOpens, layer.inCloses);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WholeUpdate,
    ::testing::Values(
        RunCase{"Accepting", {kBig}, "status=accept", 0, 0, UpdateVerdict::Updated, kUpdatedText, true},
        RunCase{"AcceptingThreePortionsWithReboots", {kSmall, kBig, kSmall}, "status=accept,offline=3000", 0, 0,
                UpdateVerdict::Updated, kUpdatedText, true},
        RunCase{"Failing", {kBig}, "status=fail", 0, 0, UpdateVerdict::DeviceError, kDeviceErrorText, true},
        RunCase{"Silent", {kBig}, "status=none", 0, 0, UpdateVerdict::SentCheckDevice, kCheckDeviceText, true},
        RunCase{"InstallingThenAccepting", {kBig}, "status=install:3", 0, 0, UpdateVerdict::Updated, kUpdatedText,
                true},
        RunCase{"MissingForAWhileThenPlugged", {kBig}, "status=accept", 25000, 0, UpdateVerdict::Updated, kUpdatedText,
                true},
        RunCase{"PlugPulledInTheMiddleOfAPortion", {kBig}, "status=none", 0, 1, UpdateVerdict::DeviceError, kDeviceErrorText,
                false}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

class ResetOnClose : public LayerTest {};

// The port resets its output whenever it closes it, for the reboot after the first portion's
// status and at the end: the instrument sets the reset's channel messages aside.
TEST_F(ResetOnClose, TheInstrumentIgnoresTheResetsChannelMessages) {
    const Update update = MakeUpdate({kSmall, kBig});
    VirtualDeviceModel model(update, update.winPort, ParseDeviceBehaviour("status=accept,offline=3000"));
    winmm_layer::AttachModel(&model, winmm_layer::AddOutput("Pad"), winmm_layer::AddInput("Pad"));
    ScopedLogMute mute;
    RecordingProgress progress;
    WindowsMidiPort port(update.winPort);
    EXPECT_EQ(SimpleSysExSender(port).Send(update, progress), UpdateVerdict::Updated);
    port.Disconnect();
    ASSERT_EQ(winmm_layer::GetStats().outCloses, 2u);
    EXPECT_EQ(model.GetStats().ignored.channelMessages, 2u * 32u);
    EXPECT_EQ(model.GetStats().portionsCorrupt + model.GetStats().bytesUnexpected, 0u);
}

}  // namespace
