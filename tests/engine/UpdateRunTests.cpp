#include <gtest/gtest.h>

#include <algorithm>

#include "ScriptedPort.h"
#include "SysExSender.h"
#include "TestSupport.h"

namespace {


SysExPortion Portion(std::size_t size, std::uint32_t delay = 0) {
    SysExPortion portion;
    portion.data.assign(size, 0x11);
    portion.data.front() = 0xF0;
    portion.data.back() = 0xF7;
    portion.delay = delay;
    return portion;
}

Update PadUpdate(std::vector<SysExPortion> portions, std::uint16_t major = 1, std::uint16_t minor = 5) {
    Update update;
    update.productName = "Pad";
    update.version.major = major;
    update.version.minor = minor;
    update.portions = std::move(portions);
    return update;
}

class UpdateRunTest : public EngineTest {
protected:

    UpdateVerdict Run(const Update& update) {
        SimpleSysExSender sender(port);
        return sender.Send(update, progress);
    }

    // Position of the first matching report in the trace (the trace length when there is none).
    std::size_t IndexOf(const std::string& traceEntry) const {
        const std::vector<std::string> trace = progress.Trace();
        return static_cast<std::size_t>(std::find(trace.begin(), trace.end(), traceEntry) - trace.begin());
    }
};

}  // namespace

TEST_F(UpdateRunTest, NoPortionsGoesStraightToTheDeviceEnquiry) {
    EXPECT_EQ(Run(PadUpdate({})), UpdateVerdict::SentCheckDevice);
    EXPECT_EQ(progress.Trace(),
              (std::vector<std::string>{"P0", "I", "S:Started update", "P1", "S:MIDI update sent successfully.",
                                        "S:Verifying update status...", std::string("C:") + kCheckDeviceText}));
    ASSERT_EQ(port.queries.size(), 1u);
    EXPECT_EQ(port.queries[0].limit, 5000u);
    EXPECT_EQ(port.queries[0].request, (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
    EXPECT_TRUE(port.sends.empty());
    EXPECT_EQ(port.disconnects, 0);
    EXPECT_EQ(clock.NowMs(), 0u);
}

TEST_F(UpdateRunTest, OnePortionAcceptedReportsEveryStepAndTakesOnlyTheChunkRest) {
    port.repliesToSends = {StatusMessage(0x00)};
    EXPECT_EQ(Run(PadUpdate({Portion(100)})), UpdateVerdict::Updated);
    EXPECT_EQ(progress.Trace(),
              (std::vector<std::string>{
                  "P0", "I", "S:Started update", "S:Looking for Pad to update...", "I",
                  "I", "S:Sent 100 bytes of 100 bytes", "P1", "S:Sent 100 bytes of 100 bytes",
                  "S:Checking update status...", "I", "S:Device has accepted update.", "P1",
                  "P1", "S:MIDI update sent successfully.", std::string("C:") + kUpdatedText}));
    EXPECT_TRUE(port.queries.empty());
    EXPECT_EQ(port.disconnects, 1);
    EXPECT_EQ(clock.NowMs(), 24u);  // 100 bytes rest 24 ms; the status came at once
    EXPECT_TRUE(log.Contains("SysExSender::Send(update,sender,progress)\n"));
    EXPECT_TRUE(log.Contains("SimpleSysExSender::Send\n"));
    EXPECT_EQ(log.Count("SysExSender::Send: Disconnecting\n"), 1u);
}

TEST_F(UpdateRunTest, SilentDeviceWithAPauseCostsEveryWaitToTheMillisecond) {
    EXPECT_EQ(Run(PadUpdate({Portion(3000, 500)})), UpdateVerdict::SentCheckDevice);
    // 3000 bytes rest 732 ms, six silent status polls of 2000 ms, the pause and ten seconds.
    EXPECT_EQ(clock.NowMs(), 732u + 12000u + 500u + 10000u);
    ASSERT_EQ(port.queries.size(), 1u);
    EXPECT_EQ(port.queries[0].atMs, clock.NowMs());
    EXPECT_EQ(port.queries[0].disconnectsBefore, 1);  // the enquiry does not reopen the port
    EXPECT_TRUE(progress.Texts(ProgressEvent::Blocking).empty());
}

TEST_F(UpdateRunTest, ThreePortionsNameEachAndShowThePreparationOnceBeforeTheFirstPause) {
    port.repliesToSends = {StatusMessage(0x00), StatusMessage(0x00), StatusMessage(0x00)};
    EXPECT_EQ(Run(PadUpdate({Portion(1000, 300), Portion(2000), Portion(1000)})), UpdateVerdict::Updated);

    EXPECT_EQ(progress.Texts(ProgressEvent::Blocking), (std::vector<std::string>{kPreparationText}));
    const std::size_t looking = IndexOf("S:Looking for Pad to update...");
    const std::size_t firstVerdict = IndexOf("S:Device has accepted update.");
    const std::size_t blocking = IndexOf(std::string("B:") + kPreparationText);
    const std::size_t pause = IndexOf("S:Waiting for device to become ready for more data...");
    const std::size_t second = IndexOf("S:Sending chunk #2 of 3");
    const std::size_t third = IndexOf("S:Sending chunk #3 of 3");
    EXPECT_LT(looking, firstVerdict);
    EXPECT_EQ(blocking, firstVerdict + 2);  // right after the status wait's final Progress
    EXPECT_LT(blocking, pause);
    EXPECT_LT(pause, second);
    EXPECT_LT(second, third);
    EXPECT_LT(third, progress.events.size());
    EXPECT_EQ(port.sends.size(), 3u);
    EXPECT_EQ(port.disconnects, 3);

    // Each portion's share of the bar follows its bytes: 1000, 2000 and 1000 of 4000.
    std::vector<float> endsOfShares;
    const std::vector<std::string> trace = progress.Trace();
    for (std::size_t i = 1; i < trace.size(); ++i)
        if (trace[i - 1].rfind("S:Device has", 0) == 0) endsOfShares.push_back(progress.events[i].value);
    EXPECT_EQ(endsOfShares, (std::vector<float>{0.25f, 0.75f, 1.0f}));
}

TEST_F(UpdateRunTest, RetryTextOnlyForLaterPortions) {
    // Portion 1: two questions to connect, one before its status wait. Then portion 2 finds the
    // port away for one whole ten-second wait.
    port.connectedScript = {true, true, true};
    port.connectedScript.insert(port.connectedScript.end(), 11, false);
    port.repliesToSends = {StatusMessage(0x00), StatusMessage(0x00)};
    Run(PadUpdate({Portion(10), Portion(10)}));
    const std::vector<std::string> statuses = progress.Texts(ProgressEvent::Status);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Could not send chunk #2 of 2. Retrying..."), 1);
    EXPECT_EQ(clock.TotalSleptMs(), 2u * 2u + 10000u + 1000u);  // two 2 ms rests, the failed wait, the retry pause
    const std::size_t retry = IndexOf("S:Could not send chunk #2 of 2. Retrying...");
    EXPECT_EQ(progress.Trace()[retry + 1], "I");  // the next try shows the busy bar again
}

TEST_F(UpdateRunTest, FirstPortionRetriesSilently) {
    port.connectedScript = std::deque<bool>(22, false);  // two failed waits
    port.repliesToSends = {StatusMessage(0x00)};
    EXPECT_EQ(Run(PadUpdate({Portion(10)})), UpdateVerdict::Updated);
    for (const std::string& text : progress.Texts(ProgressEvent::Status))
        EXPECT_EQ(text.find("Could not send"), std::string::npos) << text;
    EXPECT_EQ(clock.TotalSleptMs(), 2u * (10000u + 1000u) + 2u);
}

TEST_F(UpdateRunTest, VerdictFollowsTheLastStatusAndTheReportedVersion) {
    const Bytes installing = StatusMessage(0x20);
    const struct Case {
        const char* name;
        std::vector<Bytes> statuses;  // one per portion; empty: silent
        Bytes identity;
        std::uint16_t major, minor;
        UpdateVerdict verdict;
        std::string text;
        bool asks;
    } cases[] = {
        {"accepted", {StatusMessage(0x00)}, {}, 1, 5, UpdateVerdict::Updated, kUpdatedText, false},
        {"failed after accepted", {StatusMessage(0x00), StatusMessage(0x01)}, {}, 1, 5,
         UpdateVerdict::DeviceError, kDeviceErrorText, false},
        {"accepted after failed", {StatusMessage(0x01), StatusMessage(0x00)}, {}, 1, 5,
         UpdateVerdict::Updated, kUpdatedText, false},
        {"silent, no identity", {{}}, {}, 1, 5, UpdateVerdict::SentCheckDevice, kCheckDeviceText, true},
        {"silent, wrong header", {{}}, Bytes{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0xF7}, 1, 5,
         UpdateVerdict::SentNotConfirmed, kNotConfirmedText, true},
        {"installing, same version", {installing}, IdentityReply({0x41}, 0, 0, 1, 0, 5), 1, 5,
         UpdateVerdict::Updated, kUpdatedText, true},
        {"installing, other version", {installing}, IdentityReply({0x41}, 0, 0, 1, 0, 5), 1, 6,
         UpdateVerdict::VersionDiffers,
         "The 'Pad' firmware version is now 1.05.\nThe update file version was 1.06.\nThe update "
         "process did not complete successfully.",
         true},
        {"no file version", {{}}, IdentityReply({0x00, 0x21, 0x09}, 0, 0, 2, 0, 1), 0, 0,
         UpdateVerdict::SentReportsVersion,
         "The update has been sent to the device sucessfully.\nIt is now at version firmware 2.01.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort casePort;
        casePort.repliesToSends.assign(c.statuses.begin(), c.statuses.end());
        casePort.queryReply = c.identity;
        RecordingProgress caseProgress;
        std::vector<SysExPortion> portions(c.statuses.size(), Portion(50));
        SimpleSysExSender sender(casePort);
        EXPECT_EQ(sender.Send(PadUpdate(portions, c.major, c.minor), caseProgress), c.verdict);
        EXPECT_EQ(caseProgress.Texts(ProgressEvent::Completed), (std::vector<std::string>{c.text}));
        EXPECT_EQ(caseProgress.events.back().kind, ProgressEvent::Completed);
        EXPECT_EQ(casePort.queries.size(), c.asks ? 1u : 0u);
        const std::vector<std::string> statuses = caseProgress.Texts(ProgressEvent::Status);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Verifying update status..."), c.asks ? 1 : 0);
        EXPECT_TRUE(caseProgress.Texts(ProgressEvent::Error).empty());
    }
}

// A chunk the operating system refused never reached the device: unless the device itself
// confirms the update, the run must not end by saying the update was sent.
TEST_F(UpdateRunTest, AFailedSendIsAnErrorUnlessTheDeviceAcceptsTheUpdate) {
    struct Case {
        const char* name;
        std::vector<int> failingSends;
        Bytes lastStatus;  // empty: the device stays silent
        Bytes identity;
        UpdateVerdict verdict;
        const char* text;
    };
    const Bytes accepted = StatusMessage(0x00), installing = StatusMessage(0x20);
    const Bytes reply105 = IdentityReply({0x41}, 0x01, 0, 1, 0, 5);
    const std::vector<Case> cases = {
        {"silent device", {2}, {}, {}, UpdateVerdict::DeviceError, kDeviceErrorText},
        {"silent device with a matching reply", {1}, {}, reply105, UpdateVerdict::DeviceError, kDeviceErrorText},
        {"installing", {2}, installing, reply105, UpdateVerdict::DeviceError, kDeviceErrorText},
        {"accepted despite a lost chunk", {1}, accepted, {}, UpdateVerdict::Updated, kUpdatedText},
        {"no failure, silent", {}, {}, {}, UpdateVerdict::SentCheckDevice, kCheckDeviceText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort fresh;
        fresh.ideal = 100;
        fresh.max = 100;
        fresh.failingSends = c.failingSends;
        fresh.queryReply = c.identity;
        if (!c.lastStatus.empty()) fresh.DeliverAtPoll(1, c.lastStatus);
        RecordingProgress reports;
        SimpleSysExSender sender(fresh);
        EXPECT_EQ(sender.Send(PadUpdate({Portion(250)}), reports), c.verdict);
        EXPECT_EQ(reports.Texts(ProgressEvent::Completed), std::vector<std::string>{c.text});
        EXPECT_EQ(fresh.sends.size(), 3u);  // the run goes on after a failed chunk
    }
}
