#include <gtest/gtest.h>

#include "ScriptedPort.h"
#include "TestSupport.h"
#include "UpdateStatus.h"

namespace {

using StatusPollTest = EngineTest;

const char* const kChecking = "S:Checking update status...";
const char* const kInstalling = "S:Waiting for device to complete update installation...";
const char* const kAccepted = "S:Device has accepted update.";
const char* const kNotResponded = "S:Device has not yet responded to update.";

}  // namespace

TEST(CheckSysExUpdateStatus, ClassifiesTheStatusByte) {
    const struct {
        std::uint8_t status;
        UpdateStatus expected;
    } cases[] = {
        {0x00, Accepted}, {0x10, Accepted}, {0x40, Accepted}, {0x50, Accepted},
        {0x20, Installing}, {0x30, Installing},
        {0x01, Failed}, {0x08, Failed}, {0x21, Failed}, {0x2F, Failed}, {0x0F, Failed},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_EQ(CheckSysExUpdateStatus(StatusMessage(c.status)), c.expected) << int(c.status);
        EXPECT_EQ(log.Text(), FormatString("CheckSysExUpdateStatus: error=(0x%02x)\n", c.status));
    }
}

TEST(CheckSysExUpdateStatus, AnythingButAStatusMessageIsNoReplyWithoutALogLine) {
    Bytes twelve = StatusMessage(0x00);
    twelve.pop_back();
    Bytes fourteen = StatusMessage(0x00);
    fourteen.push_back(0xF7);
    Bytes oneByteMaker = {0xF0, 0x41, 0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xF7};
    Bytes wrongType = StatusMessage(0x00);
    wrongType[4] = 0x72;
    Bytes wrongStart = StatusMessage(0x00);
    wrongStart[0] = 0xF1;
    Bytes otherMaker = StatusMessage(0x00);
    otherMaker[3] ^= 0x01;
    LogCapture log;
    for (const Bytes& message : {Bytes{}, twelve, fourteen, oneByteMaker, wrongType, wrongStart, otherMaker})
        EXPECT_EQ(CheckSysExUpdateStatus(message), NoReply) << message.size();
    EXPECT_EQ(log.Text(), "");
}

TEST(CheckSysExUpdateStatus, DeviceDataAndTheLastByteAreNotRead) {
    Bytes message = StatusMessage(0x20);
    for (std::size_t i = 5; i <= 10; ++i) message[i] = 0x7F;
    message[12] = 0x00;
    EXPECT_EQ(CheckSysExUpdateStatus(message), Installing);
}

TEST_F(StatusPollTest, SilentDevicePolledFiveTimesHalfASecondApart) {
    EXPECT_EQ(GetUpdateStatus(port, 2000), NoReply);
    EXPECT_EQ(port.pollTimes, (std::vector<std::uint64_t>{0, 500, 1000, 1500, 2000}));
    EXPECT_EQ(port.clears, 5);
    EXPECT_EQ(port.isConnectedCalls, 4);
    EXPECT_EQ(port.disconnects, 0);
    EXPECT_EQ(log.Count("GetUpdateStatus: sysEx=(none)\n"), 4u);
}

TEST_F(StatusPollTest, ReturnsAtThePollThatSeesAnyMessage) {
    port.DeliverAt(1200, StatusMessage(0x00));
    EXPECT_EQ(GetUpdateStatus(port, 2000), Accepted);
    EXPECT_EQ(clock.NowMs(), 1500u);
    EXPECT_TRUE(log.Contains("GetUpdateStatus: sysEx=(something)\n"));

    ScriptedPort other;
    other.DeliverAtPoll(2, Bytes{0xF0, 0x7E, 0x00, 0xF7});  // not a status message
    EXPECT_EQ(GetUpdateStatus(other, 2000), NoReply);
    EXPECT_EQ(other.pollTimes.size(), 2u);
    EXPECT_EQ(clock.NowMs(), 2000u);
}

TEST_F(StatusPollTest, MessageAlreadyWaitingIsTakenWithoutSleepingAndCleared) {
    port.Feed(StatusMessage(0x01));
    EXPECT_EQ(GetUpdateStatus(port, 2000), Failed);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_TRUE(port.MidiPort::GetSysEx().empty());
}

TEST_F(StatusPollTest, PortThatDroppedIsClosed) {
    port.connectedScript = {true, false, true, false};
    EXPECT_EQ(GetUpdateStatus(port, 2000), NoReply);
    EXPECT_EQ(port.disconnects, 2);
}

TEST_F(StatusPollTest, WrapOfTheMillisecondCountKeepsTheFullWait) {
    SimulatedClock nearWrap(0x100000000ull - 700);
    ScopedClock use(nearWrap);
    EXPECT_EQ(GetUpdateStatus(port, 2000), NoReply);
    EXPECT_EQ(port.pollTimes.size(), 5u);
    EXPECT_EQ(nearWrap.TotalSleptMs(), 2000u);
}

TEST_F(StatusPollTest, OneInstallingThenSilenceEndsAsNoReplyAfterSixAttempts) {
    port.DeliverAtPoll(1, StatusMessage(0x20));
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), NoReply);
    EXPECT_EQ(progress.Trace(),
              (std::vector<std::string>{kChecking, "I", kInstalling, "I", kNotResponded, "P1"}));
    // The installing status came at once; then six silent polls of two seconds each.
    EXPECT_EQ(clock.NowMs(), 12000u);
    EXPECT_EQ(port.pollTimes.size(), 1u + 6u * 5u);
    EXPECT_TRUE(log.Contains("WaitForUpdateToFinish >>\n"));
    EXPECT_TRUE(log.Contains("WaitForUpdateToFinish << (0)\n"));
}

TEST_F(StatusPollTest, InstallingTextIsShownOnceWhileTheDeviceKeepsInstalling) {
    port.DeliverAtPoll(1, StatusMessage(0x20));
    port.DeliverAtPoll(2, StatusMessage(0x20));
    port.DeliverAt(3000, StatusMessage(0x20));
    port.DeliverAt(3100, StatusMessage(0x00));
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), Accepted);
    EXPECT_EQ(progress.Trace(), (std::vector<std::string>{kChecking, "I", kInstalling, "I", kAccepted, "P1"}));
    EXPECT_EQ(clock.NowMs(), 3500u);
}

TEST_F(StatusPollTest, EndlessInstallingIsPolledTwoHundredTimesMore) {
    port.deliverOnEveryPoll = StatusMessage(0x20);
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), Installing);
    EXPECT_EQ(port.pollTimes.size(), 201u);
    EXPECT_EQ(progress.Texts(ProgressEvent::Status),
              (std::vector<std::string>{"Checking update status...",
                                        "Waiting for device to complete update installation...",
                                        "Device has not yet responded to update."}));
}

TEST_F(StatusPollTest, FailedOnTheFirstPollEndsTheWaitAtOnce) {
    port.DeliverAtPoll(1, StatusMessage(0x08));
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), Failed);
    EXPECT_EQ(port.pollTimes.size(), 1u);
    EXPECT_EQ(clock.NowMs(), 0u);
    EXPECT_EQ(progress.Trace(), (std::vector<std::string>{kChecking, "I", kNotResponded, "P1"}));
    EXPECT_TRUE(log.Contains("WaitForUpdateToFinish << (3)\n"));
}

TEST_F(StatusPollTest, NotConnectedIsNoReplyWithoutReports) {
    port.connectedAfterScript = false;
    port.DeliverAtPoll(1, StatusMessage(0x00));
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), NoReply);
    EXPECT_TRUE(progress.events.empty());
    EXPECT_TRUE(port.pollTimes.empty());
    EXPECT_EQ(log.Text(), "WaitForUpdateToFinish >>\nWaitForUpdateToFinish: not connected\n");
}

TEST_F(StatusPollTest, AcceptedAfterASilentAttempt) {
    port.DeliverAt(3000, StatusMessage(0x10));
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), Accepted);
    EXPECT_EQ(clock.NowMs(), 3000u);
    EXPECT_EQ(progress.Trace(), (std::vector<std::string>{kChecking, "I", kAccepted, "P1"}));
    EXPECT_TRUE(log.Contains("WaitForUpdateToFinish << (1)\n"));
}
