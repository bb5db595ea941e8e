// Whole update runs of the real sender against the virtual device, on a simulated clock: what the
// device received, which verdict the run reached, and how long it took.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Clock.h"
#include "DeviceTestSupport.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "UpdateStatus.h"
#include "VirtualDevice.h"

namespace {

// Three portions with known chunking under the default port settings (ideal 1024, max 3072):
// - one chunk of 1000 bytes, whole messages;
// - three chunks of 1100, 1100 and 800 bytes, each ending on a message end;
// - one 4000-byte message, cut at max into 3072 and 928 bytes, which the port closes and reopens.
const Bytes kFirst = SysExMessages(10, 100, 0);
const Bytes kSecond = SysExMessages(30, 100, 1);
const Bytes kThird = SysExMessages(1, 4000, 2);

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kThirdOnWire = Concat({Bytes(kThird.begin(), kThird.begin() + 3072), Bytes{0xF7},
                                   Bytes{0xF0}, Bytes(kThird.begin() + 3072, kThird.end())});

// Sending time of chunks of these lengths on the default port: its own 200 + 100 ms after each,
// then the sender's rest of 1/4096 s per byte (whole milliseconds, rounded down).
std::uint64_t SendMs(std::initializer_list<std::uint32_t> chunkLengths) {
    std::uint64_t total = 0;
    for (std::uint32_t n : chunkLengths) total += 200 + 100 + n * 1000u / 4096u;
    return total;
}
const std::uint64_t kFirstMs = SendMs({1000});               // 544
const std::uint64_t kSecondMs = SendMs({1100, 1100, 800});   // 1631
const std::uint64_t kThirdMs = SendMs({3072, 928});          // 1576
const std::uint64_t kThreeMs = kFirstMs + kSecondMs + kThirdMs;

// A silent device costs six status polls of 2000 ms per portion.
constexpr std::uint64_t kSilentPollsMs = 6 * 2000;


Update OnePortion(FirmwareVersion version = {1, 5}) { return MakeUpdate({kThird}, version); }
Update ThreePortions() { return MakeUpdate({kFirst, kSecond, kThird}); }

struct RunResult {
    UpdateVerdict verdict;
    std::vector<std::string> completed;
    std::vector<std::string> statuses;
    std::size_t blocking = 0;
    std::uint64_t totalMs = 0;
    VirtualDevice::Stats stats;
    Bytes wire;
};

// Runs `sent` against a device that expects `known` (normally the same update).
RunResult RunAgainstDevice(const Update& sent, const std::string& behaviour,
                           const Update* known = nullptr) {
    SimulatedClock clock;
    ScopedClock use(clock);
    ScopedLogMute mute;
    VirtualDevice device(known ? *known : sent, sent.winPort, ParseDeviceBehaviour(behaviour));
    SimpleSysExSender sender(device);
    RecordingProgress progress;
    RunResult result;
    result.verdict = sender.Send(sent, progress);
    result.completed = progress.Texts(ProgressEvent::Completed);
    result.statuses = progress.Texts(ProgressEvent::Status);
    result.blocking = progress.Texts(ProgressEvent::Blocking).size();
    result.totalMs = clock.NowMs();
    result.stats = device.GetStats();
    result.wire = device.Wire();
    return result;
}

bool Saw(const RunResult& r, const std::string& status) {
    return std::find(r.statuses.begin(), r.statuses.end(), status) != r.statuses.end();
}

TEST(FullRun, VerdictMatrix) {
    struct Case {
        const char* name;
        Update update;
        const char* behaviour;
        UpdateVerdict verdict;
        std::string text;
        std::uint64_t totalMs;
        std::uint32_t identityRequests;
    };
    Update raw = OnePortion({0, 0});
    raw.isRawSysEx = true;
    const Case cases[] = {
        {"accept, one portion", OnePortion(), "status=accept", UpdateVerdict::Updated, kUpdatedText,
         kThirdMs, 0},
        {"accept, three portions", ThreePortions(), "", UpdateVerdict::Updated, kUpdatedText,
         kThreeMs, 0},
        {"fail, one portion", OnePortion(), "status=fail", UpdateVerdict::DeviceError, kDeviceErrorText,
         kThirdMs, 0},
        {"fail, three portions", ThreePortions(), "status=fail", UpdateVerdict::DeviceError,
         kDeviceErrorText, kThreeMs, 0},
        // Without statuses every portion costs the six silent polls; the reply then takes 20 ms.
        {"silent, same version", OnePortion(), "status=none", UpdateVerdict::Updated, kUpdatedText,
         kThirdMs + kSilentPollsMs + kDeviceIdentityMs, 1},
        {"silent, same version, three portions", ThreePortions(), "status=none,identity=1.05",
         UpdateVerdict::Updated, kUpdatedText, kThreeMs + 3 * kSilentPollsMs + kDeviceIdentityMs, 1},
        {"silent, other version", OnePortion(), "status=none,identity=1.06",
         UpdateVerdict::VersionDiffers,
         "The 'Pad' firmware version is now 1.06.\nThe update file version was 1.05.\n"
         "The update process did not complete successfully.",
         kThirdMs + kSilentPollsMs + kDeviceIdentityMs, 1},
        {"silent, no identity", OnePortion(), "status=none,identity=none",
         UpdateVerdict::SentCheckDevice,
         "The update has been sent.\nPlease check your device for update status.\n"
         "You may need to restart the device for the update process to complete.",
         kThirdMs + kSilentPollsMs + 5000, 1},
        {"silent, three portions, no identity", ThreePortions(), "status=none,identity=none",
         UpdateVerdict::SentCheckDevice,
         "The update has been sent.\nPlease check your device for update status.\n"
         "You may need to restart the device for the update process to complete.",
         kThreeMs + 3 * kSilentPollsMs + 5000, 1},
        {"raw SysEx, silent", raw, "status=none", UpdateVerdict::SentReportsVersion,
         "The update has been sent to the device sucessfully.\nIt is now at version firmware 1.00.",
         kThirdMs + kSilentPollsMs + kDeviceIdentityMs, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = RunAgainstDevice(c.update, c.behaviour);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.completed, std::vector<std::string>{c.text});
        EXPECT_EQ(r.totalMs, c.totalMs);
        EXPECT_EQ(r.stats.identityRequests, c.identityRequests);
        const bool three = c.update.portions.size() == 3;
        EXPECT_EQ(r.wire, three ? Concat({kFirst, kSecond, kThirdOnWire}) : kThirdOnWire);
        EXPECT_EQ(r.stats.portionsCompleted, three ? 3u : 1u);
        EXPECT_EQ(r.stats.portionsCorrupt, 0u);
        EXPECT_EQ(r.stats.chunksReceived, three ? 6u : 2u);
        EXPECT_EQ(r.stats.sendsWhileClosed, 0u);
        EXPECT_EQ(r.stats.bytesUnexpected, 0u);
        EXPECT_EQ(r.blocking, three ? 1u : 0u);
    }
}

TEST(FullRun, InstallingThenAccepted) {
    const RunResult r = RunAgainstDevice(OnePortion(), "status=install:3");
    EXPECT_EQ(r.verdict, UpdateVerdict::Updated);
    EXPECT_EQ(r.completed, std::vector<std::string>{kUpdatedText});
    EXPECT_TRUE(Saw(r, "Waiting for device to complete update installation..."));
    EXPECT_TRUE(Saw(r, "Device has accepted update."));
    EXPECT_EQ(r.stats.identityRequests, 0u);
    EXPECT_EQ(r.wire, kThirdOnWire);
    EXPECT_EQ(r.stats.portionsCorrupt, 0u);
    // The last chunk goes out at 1050 ms, so the statuses come at 1350, 1850, 2350 and the accept
    // at 2850. Polling starts when sending ends (1576) and reads every 500 ms once it finds the
    // store empty: 2076, 2576, then 3076 finds the accept.
    EXPECT_EQ(r.totalMs, kThirdMs + 3 * 500u);
}

TEST(FullRun, InstallingBeyondThePollBudget) {
    // 250 installing statuses outlast the one poll plus 200 busy polls the run allows, so it ends
    // still "installing" and asks for the version, which matches.
    const RunResult r = RunAgainstDevice(OnePortion(), "status=install:250");
    EXPECT_EQ(r.verdict, UpdateVerdict::Updated);
    EXPECT_EQ(r.completed, std::vector<std::string>{kUpdatedText});
    EXPECT_TRUE(Saw(r, "Device has not yet responded to update."));
    EXPECT_FALSE(Saw(r, "Device has accepted update."));
    EXPECT_EQ(r.stats.identityRequests, 1u);
    EXPECT_EQ(r.wire, kThirdOnWire);
    EXPECT_EQ(r.totalMs, kThirdMs + 200 * 500u + kDeviceIdentityMs);

    const RunResult differs = RunAgainstDevice(OnePortion(), "status=install:250,identity=2.00");
    EXPECT_EQ(differs.verdict, UpdateVerdict::VersionDiffers);
}

TEST(FullRun, DeviceRebootingBetweenPortions) {
    const RunResult r = RunAgainstDevice(ThreePortions(), "offline=3000");
    EXPECT_EQ(r.stats.portionsCompleted, 3u);
    EXPECT_EQ(r.stats.portionsCorrupt, 0u);
    EXPECT_EQ(r.stats.sendsWhileClosed, 0u) << "the run waits for the device to come back";
    EXPECT_EQ(r.wire, Concat({kFirst, kSecond, kThirdOnWire}));
    // Each status reaches the run before the device goes; reading it starts the reboot.
    EXPECT_EQ(r.stats.identityRequests, 0u);
    EXPECT_EQ(r.verdict, UpdateVerdict::Updated);
    EXPECT_EQ(r.completed, std::vector<std::string>{kUpdatedText});
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), "Device has accepted update."), 3);
    // Portion 1 ends at 544, where its status is read: away from 544 to 3544, so connection checks
    // at 544, 1544, 2544 fail and 3544 succeeds. Portion 2 sends from 3544 to 5175 and its status
    // is read then: checks fail until 8175. Portion 3 sends from 8175 to 9751.
    EXPECT_EQ(r.totalMs, 8175u + kThirdMs);
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), "Could not send chunk #2 of 3. Retrying..."), 0)
        << "each wait for the device is shorter than ten seconds";
}

TEST(FullRun, ADeviceAwayLongerThanTheConnectionWaitIsRetriedUntilItIsBack) {
    const RunResult r = RunAgainstDevice(ThreePortions(), "offline=15000");
    EXPECT_EQ(r.verdict, UpdateVerdict::Updated);
    EXPECT_EQ(r.stats.portionsCompleted, 3u);
    EXPECT_EQ(r.stats.sendsWhileClosed, 0u);
    // Ten one-second checks fail, the retry text shows, a one-second pause, then four more checks
    // find the device back 15 s after its status was read.
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), "Could not send chunk #2 of 3. Retrying..."), 1);
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), "Could not send chunk #3 of 3. Retrying..."), 1);
    EXPECT_EQ(r.totalMs, kFirstMs + 15000 + kSecondMs + 15000 + kThirdMs);
}

TEST(FullRun, CorruptLastPortionGivesTheErrorVerdict) {
    Update sent = ThreePortions();
    sent.portions[2].data[100] ^= 0x01;
    const Update known = ThreePortions();
    const RunResult r = RunAgainstDevice(sent, "status=accept", &known);
    EXPECT_EQ(r.verdict, UpdateVerdict::DeviceError);
    EXPECT_EQ(r.completed, std::vector<std::string>{kDeviceErrorText});
    EXPECT_EQ(r.stats.portionsCompleted, 3u);
    EXPECT_EQ(r.stats.portionsCorrupt, 1u);
}

TEST(FullRun, PortSettingsShapeTheWireAndTheTime) {
    // Framing off, small chunks, negative pauses: the wire is the data exactly as cut, and only
    // the sender's rests take time.
    Update update = MakeUpdate({SysExMessages(8, 64, 3)});
    update.winPort.ideal = 100;
    update.winPort.max = 200;
    update.winPort.delay = -1;
    update.winPort.unprepDelay = -100;
    update.winPort.chunks = false;
    const RunResult r = RunAgainstDevice(update, "");
    EXPECT_EQ(r.verdict, UpdateVerdict::Updated);
    EXPECT_EQ(r.wire, update.portions[0].data);
    // 512 bytes in chunks of 128 (100 bytes, then on to the next message end at 128).
    EXPECT_EQ(r.stats.chunksReceived, 4u);
    EXPECT_EQ(r.stats.portionsCorrupt, 0u);
    // A rest of 31 ms per chunk; the device's status (300 ms after the last chunk) is read at once
    // by the first poll when it has arrived, else at the poll 500 ms later.
    EXPECT_EQ(r.totalMs, 4 * 31u + 500u);
}

}  // namespace
