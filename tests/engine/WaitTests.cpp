#include <gtest/gtest.h>

#include "ScriptedPort.h"
#include "SysExSender.h"
#include "TestSupport.h"

namespace {

using WaitTest = EngineTest;

}  // namespace

TEST_F(WaitTest, NeverConnectedGivesUpAfterTenSecondsAndElevenQuestions) {
    port.connectedAfterScript = false;
    EXPECT_FALSE(WaitForConnection(port));
    EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>(10, 1000));
    EXPECT_EQ(port.isConnectedCalls, 11);
    EXPECT_EQ(log.Count("MIDI port is not connected. Waiting, then retrying\n"), 10u);
}

TEST_F(WaitTest, ConnectingLateStopsTheWaitAndAsksOnceMore) {
    port.connectedScript = {false, false, true};
    EXPECT_TRUE(WaitForConnection(port));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{1000, 1000}));
    EXPECT_EQ(port.isConnectedCalls, 4);
}

TEST_F(WaitTest, ConnectedOnTheLastQuestionCounts) {
    port.connectedScript = std::deque<bool>(10, false);
    port.connectedAfterScript = true;
    EXPECT_TRUE(WaitForConnection(port));
    EXPECT_EQ(clock.TotalSleptMs(), 10000u);
}

TEST_F(WaitTest, AlreadyConnectedDoesNotSleep) {
    EXPECT_TRUE(WaitForConnection(port));
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_FALSE(log.Contains("not connected"));
}

TEST_F(WaitTest, DelayOfZeroReportsNothingAndDoesNotSleep) {
    SysExPortion portion;
    DoDelay(portion, progress);
    EXPECT_TRUE(progress.events.empty());
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(log.Text(), "DoDelay\n");
}

TEST_F(WaitTest, DelayPausesAndThenWaitsTenSecondsMore) {
    SysExPortion portion;
    portion.delay = 750;
    DoDelay(portion, progress);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{750, 10000}));
    EXPECT_EQ(progress.Trace(),
              (std::vector<std::string>{"S:Waiting for device to become ready for more data...", "I",
                                        "S:Waiting for device to become active...", "P1"}));
    ASSERT_EQ(progress.events.size(), 4u);
    EXPECT_EQ(progress.events[2].atMs, 750u);
    EXPECT_EQ(progress.events[3].atMs, 10750u);
}

TEST_F(WaitTest, TimeComesFromTheInstalledClock) {
    clock.Advance(123456789012ull);
    EXPECT_EQ(GetTimeMs(), 123456789012ull);
}

TEST(SysExSenderLog, ConstructionNamesItselfWithoutALineEnd) {
    LogCapture log;
    ScriptedPort port;
    SimpleSysExSender sender(port);
    EXPECT_EQ(log.Text(), "SysExSender::SysExSender");
}
