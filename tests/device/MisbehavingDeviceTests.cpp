// Devices that answer oddly, against the real sender on a simulated clock: each case ends in the
// verdict that the status and enquiry rules give, within the waits those rules bound, and the
// port's reassembly never holds more than its cap.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Clock.h"
#include "DeviceTestSupport.h"
#include "MidiPort.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "VirtualDevice.h"

namespace {


// One portion of two 2000-byte messages, cut into chunks of 2000 bytes.
const Bytes kPortion = SysExMessages(2, 2000);

// The longest a run of one portion may take by the rules: the chunks with the port's pauses and
// the sender's rests, up to ten one-second connection checks, six status polls of at most 2.5 s
// each (2000 ms plus one 500 ms sleep), and the Identity Request's 5000 ms.
constexpr std::uint64_t kSendMs = 2 * (200 + 100 + 2000 * 1000 / 4096);
constexpr std::uint64_t kBoundMs = kSendMs + 10 * 1000 + 6 * 2500 + 5000;

struct Outcome {
    UpdateVerdict verdict;
    std::string text;
    std::uint64_t totalMs;
    std::size_t largestAssembly;
    VirtualDevice::Stats stats;
};

Outcome RunWith(const std::string& behaviour) {
    SimulatedClock clock;
    ScopedClock use(clock);
    ScopedLogMute mute;
    const Update update = MakeUpdate({kPortion});
    VirtualDevice device(update, update.winPort, ParseDeviceBehaviour(behaviour));
    SimpleSysExSender sender(device);
    RecordingProgress progress;
    Outcome o;
    o.verdict = sender.Send(update, progress);
    const std::vector<std::string> completed = progress.Texts(ProgressEvent::Completed);
    o.text = completed.size() == 1 ? completed[0] : "<" + std::to_string(completed.size()) + " verdicts>";
    o.totalMs = clock.NowMs();
    o.largestAssembly = device.LargestAssembly();
    o.stats = device.GetStats();
    return o;
}

}  // namespace

TEST(MisbehavingDevice, EachCaseEndsInTheRulesVerdictWithinTheBoundedWaits) {
    const struct {
        const char* name;
        const char* behaviour;
        UpdateVerdict verdict;
        const char* text;
    } cases[] = {
        {"never answers", "status=none,identity=none", UpdateVerdict::SentCheckDevice, kCheckDeviceText},
        {"garbage, then the right version", "answer=garbage", UpdateVerdict::Updated, kUpdatedText},
        {"garbage and no Identity Reply", "answer=garbage,identity=none", UpdateVerdict::SentCheckDevice, kCheckDeviceText},
        {"loopback cable", "answer=echo", UpdateVerdict::SentNotConfirmed, kNotConfirmedText},
        {"endless stream without F7", "answer=stream", UpdateVerdict::SentCheckDevice, kCheckDeviceText},
        {"drops mid-portion and returns", "drop=1500", UpdateVerdict::DeviceError, kDeviceErrorText},
        {"status after the polls, then the right version", "answer=late", UpdateVerdict::Updated, kUpdatedText},
        {"status after the polls, no Identity Reply", "answer=late,identity=none", UpdateVerdict::SentCheckDevice,
         kCheckDeviceText},
        {"late failure status", "answer=late,status=fail,identity=none", UpdateVerdict::SentCheckDevice,
         kCheckDeviceText},
        {"Identity Reply without version", "status=none,identity=short", UpdateVerdict::SentNotConfirmed,
         kNotConfirmedText},
        {"Identity Reply cut off before its end", "status=none,identity=cut", UpdateVerdict::SentCheckDevice,
         kCheckDeviceText},
        {"Identity Reply with a wrong header", "status=none,identity=malformed", UpdateVerdict::SentNotConfirmed,
         kNotConfirmedText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunWith(c.behaviour);
        EXPECT_EQ(o.verdict, c.verdict);
        EXPECT_EQ(o.text, c.text);
        EXPECT_LE(o.totalMs, kBoundMs);
        EXPECT_LE(o.largestAssembly, kMaxAssembledSysEx);
    }
}

// The stream really is longer than the cap: memory stays bounded because the reassembly drops it.
TEST(MisbehavingDevice, EndlessStreamIsCappedNotStored) {
    SimulatedClock clock;
    ScopedClock use(clock);
    ScopedLogMute mute;
    const Update update = MakeUpdate({kPortion});
    VirtualDevice device(update, update.winPort, ParseDeviceBehaviour("answer=stream"));
    SimpleSysExSender sender(device);
    RecordingProgress progress;
    sender.Send(update, progress);
    device.GetSysEx();  // takes what streamed in until the end of the run
    EXPECT_GT(clock.NowMs() * kDeviceStreamBytesPerMs, 2 * kMaxAssembledSysEx);
    // Seen after each input buffer of 4096 bytes: the message came within one buffer of the cap.
    EXPECT_GT(device.LargestAssembly(), kMaxAssembledSysEx - 4096);
    EXPECT_LT(device.LargestAssembly(), kMaxAssembledSysEx);
    EXPECT_TRUE(device.GetSysEx().empty());
}

// Bytes lost while the device was away are counted as failed sends, which is why the run cannot
// call the update sent.
TEST(MisbehavingDevice, DropMidPortionLosesTheRestAndTheDeviceComesBack) {
    const Outcome o = RunWith("drop=1500");
    EXPECT_GT(o.stats.bytesLostInDrop, 0u);
    EXPECT_GE(o.stats.sendsWhileClosed, 1u);
    EXPECT_EQ(o.stats.portionsCompleted, 0u);
}
