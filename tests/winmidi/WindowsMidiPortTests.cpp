// The Windows MIDI port against simulated winmm devices: opening, framing, pacing, input buffers,
// closing, and what it does when the system fails it.

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "LayerTestSupport.h"
#include "TestSupport.h"
#include "UpdateStatus.h"
#include "VirtualDeviceModel.h"
#include "WindowsMidiPort.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using winmm_layer::Call;

PortSettings Settings(std::set<std::string> names = {"Pad"}, std::int32_t delay = 0, std::int32_t unprepDelay = 0,
                      bool chunks = true) {
    PortSettings s;
    s.names = std::move(names);
    s.delay = delay;
    s.unprepDelay = unprepDelay;
    s.chunks = chunks;
    return s;
}

// A port whose callback thread and handles are visible only through the layer.
class WindowsPort : public LayerTest {
protected:
    void AddPad() {
        winmm_layer::AddOutput("1- Pad");
        winmm_layer::AddInput("1- Pad");
    }
};

// Pointer and handle values differ from run to run.
std::string WithoutHandles(const std::string& log) {
    std::string out = std::regex_replace(log, std::regex("opened handles are [^\n]*"), "opened handles are P:P");
    return std::regex_replace(out, std::regex("handle=[0-9]+"), "handle=H");
}

TEST_F(WindowsPort, FirstIsConnectedOpensBothSidesAndLogsIt) {
    AddPad();
    WindowsMidiPort port(Settings());
    LogCapture log;
    EXPECT_TRUE(port.IsConnected());
    EXPECT_EQ(WithoutHandles(log.Text()),
              "WindowsMidiPort::IsConnected:WindowsMidiPort::Connect\n"
              "ListInterfaces output...\n"
              "  MIDI OUT port #0: '1- Pad'\n"
              "ListInterfaces input...\n"
              "  MIDI IN  port #0: '1- Pad'\n"
              "MOM open message\n"
              "MIDI OUT Port opened OK.\n"
              "MIM open message\n"
              "MIDI IN Port opened OK (0).\n"
              "  opened handles are P:P\n"
              " connected=yes (handle=H, err=0)\n");
    EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, 10u);
}

TEST_F(WindowsPort, FramingOfEachSend) {
    struct Case {
        Bytes in;
        bool chunks;
        Bytes out;
    };
    // The framing rule itself is the core's (tested there); here only that the port applies it
    // when `chunks` is on and leaves the bytes alone when it is off.
    const Case cases[] = {
        {{0x10, 0x20, 0x30}, true, {0xF0, 0x10, 0x20, 0x30, 0xF7}},
        {{0xF0, 0x10}, false, {0xF0, 0x10}},
    };
    AddPad();
    for (const Case& c : cases) {
        WindowsMidiPort port(Settings({"Pad"}, 0, 0, c.chunks));
        port.Send(c.in.data(), static_cast<std::uint32_t>(c.in.size()));
        const std::vector<Bytes> sent = winmm_layer::SentOn(0);
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), c.out);
    }
}

TEST_F(WindowsPort, AnEmptySendDoesNotEvenConnect) {
    AddPad();
    WindowsMidiPort port(Settings());
    LogCapture log;
    const std::uint8_t byte = 0x10;
    port.Send(&byte, 0);
    EXPECT_EQ(log.Count("WindowsMidiPort::IsConnected"), 0u);
    EXPECT_EQ(winmm_layer::GetStats().outOpens, 0u);
}

// The pauses of one send and what a refused send leaves behind.
struct PacingCase {
    const char* name;
    std::int32_t delay, unprepDelay;
    unsigned stillPlaying;
    bool injectFailure;
    Call failing;
    bool deviceMissing;
    std::vector<std::uint32_t> sleeps;
    std::uint32_t failures;
    std::size_t sent;
    const char* logLine;
    unsigned failTimes = 1;
};

// Test names show the case's name, not its bytes.
void PrintTo(const PacingCase& c, std::ostream* os) { *os << c.name; }

class SendPacing : public WindowsPort, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(SendPacing, PausesAndFailures) {
    const PacingCase& c = GetParam();
    if (!c.deviceMissing) AddPad();
    WindowsMidiPort port(Settings({"Pad"}, c.delay, c.unprepDelay));
    port.IsConnected();
    winmm_layer::SetStillPlayingPolls(c.stillPlaying);
    if (c.injectFailure) winmm_layer::FailCall(c.failing, MMSYSERR_NOMEM, 0, c.failTimes);
    LogCapture log;
    const Bytes chunk = {0xF0, 0x01, 0x02, 0xF7};
    port.SendVerbatim(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    EXPECT_EQ(clock.Sleeps(), c.sleeps);
    EXPECT_EQ(port.SendFailures(), c.failures);
    EXPECT_EQ(c.deviceMissing ? 0u : winmm_layer::SentOn(0).size(), c.sent);
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    // Only a failed unprepare resets the output.
    EXPECT_EQ(log.Contains("Error unpreparing after reset"), c.failing == Call::OutUnprepare && c.failTimes > 1);
    EXPECT_EQ(winmm_layer::GetStats().outResets, c.failing == Call::OutUnprepare ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendPacing,
    ::testing::Values(
        PacingCase{"DelayThenUnprepDelay", 200, 100, 0, false, Call::Count, false, {200, 100}, 0, 1, ""},
        PacingCase{"StillPlayingIsAskedAgainEverySecond", 200, 100, 2, false, Call::Count, false,
                   {200, 1000, 1000, 100}, 0, 1, "WindowsMidiPort::SendVerbatim: Still playing\n"},
        PacingCase{"NegativePausesCountAsNone", -200, -1, 0, false, Call::Count, false, {0, 0}, 0, 1, ""},
        PacingCase{"AFailedPrepareReturnsAtOnce", 200, 100, 0, true, Call::OutPrepare, false, {}, 1, 0,
                   "WindowsMidiPort::SendVerbatim: Error preparing (There is not enough memory available for "
                   "this task.)\n"},
        PacingCase{"AFailedSendStillKeepsTheUnprepDelay", 200, 100, 0, true, Call::LongMsg, false, {100}, 1, 0,
                   "WindowsMidiPort::SendVerbatim: Error sending (There is not enough memory available for "
                   "this task.)\n"},
        // A device unplugged mid-send: the reset takes the header back; if even that fails, the
        // header and its bytes stay allocated.
        PacingCase{"AFailedUnprepareIsRetriedAfterAReset", 200, 100, 0, true, Call::OutUnprepare, false, {200, 100},
                   0, 1,
                   "WindowsMidiPort::SendVerbatim: Error unpreparing (7:There is not enough memory available "
                   "for this task.)\n"},
        PacingCase{"AHeaderTheDriverKeepsIsNotFreed", 200, 100, 0, true, Call::OutUnprepare, false, {200, 100}, 0,
                   1, "WindowsMidiPort::SendVerbatim: The driver kept the MIDI header; its memory stays allocated\n",
                   2},
        PacingCase{"NoDeviceSendsNothing", 200, 100, 0, false, Call::Count, true, {}, 1, 0,
                   "Can't send MIDI, not connected\n"}),
    [](const ::testing::TestParamInfo<PacingCase>& info) { return std::string(info.param.name); });

TEST_F(WindowsPort, WithOnlyTheInputFoundItConnectsAgainEachTimeWithoutLosingAnInputHandle) {
    winmm_layer::AddOutput("Other");
    winmm_layer::AddInput("Pad");
    {
        WindowsMidiPort port(Settings());
        LogCapture log;
        EXPECT_FALSE(port.IsConnected());
        EXPECT_FALSE(port.IsConnected());
        EXPECT_FALSE(port.IsConnected());
        EXPECT_EQ(log.Count("WindowsMidiPort::Connect\n"), 3u);
        EXPECT_EQ(log.Count("MIDI OUT Port failed to open.\n"), 3u);
        EXPECT_EQ(log.Count("MIDI IN Port opened OK (0).\n"), 3u);
        const winmm_layer::Stats open = winmm_layer::GetStats();
        EXPECT_EQ(open.openInHandles, 1u);
        EXPECT_EQ(open.inOpens, 3u);
        EXPECT_EQ(open.queuedInBuffers, 10u);
    }
    // Every input handle that was opened was reset, its headers unprepared and closed.
    const winmm_layer::Stats closed = winmm_layer::GetStats();
    EXPECT_EQ(closed.inCloses, closed.inOpens);
    EXPECT_EQ(closed.openInHandles, 0u);
    EXPECT_EQ(closed.preparedInHeaders, 0u);
    EXPECT_EQ(closed.closeRefusals, 0u);
    // Nothing arriving now can reach the destroyed port.
    winmm_layer::InjectInput(0, {0xF0, 0x01, 0xF7});
    EXPECT_EQ(winmm_layer::GetStats().droppedInputBytes, 3u);
}

TEST_F(WindowsPort, QueryReturnsTheStoredMessageAndSendsNothing) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    const Bytes reply = MakeIdentityReply({1, 5}, "Pad");
    winmm_layer::InjectInput(0, reply);
    EXPECT_EQ(port.Query(5000, IdentityRequest, sizeof(IdentityRequest)), reply);
    EXPECT_EQ(port.Query(0, nullptr, 0), reply);
    EXPECT_TRUE(winmm_layer::SentOn(0).empty());
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(WindowsPort, AMessageAcrossTwoBuffersIsStoredWholeAndTheBuffersGoBackToTheDriver) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    Bytes message(300, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    LogCapture log;
    winmm_layer::InjectInput(0, message);
    EXPECT_EQ(port.GetSysEx(), message);
    EXPECT_TRUE(log.Contains("MIM longdata message(256)\n"));
    EXPECT_TRUE(log.Contains("MIM longdata message(44)\n"));
    EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, 10u);
}

TEST_F(WindowsPort, AnEmptyBufferIsNotQueuedAgain) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    winmm_layer::ReturnEmptyBuffer(0);
    EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, 9u);
}

TEST_F(WindowsPort, InputCallbackMessages) {
    const std::pair<UINT, const char*> cases[] = {
        {MIM_DATA, "MIM data message\n"},
        {MIM_ERROR, "MIM_ERROR message\n"},
        {MOM_DONE, "MOM message (ERROR)\n"},
        {MIM_MOREDATA, "Unknown MIDI IN callback message\n"},
    };
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    for (const auto& [message, line] : cases) {
        LogCapture log;
        winmm_layer::InjectMessage(0, message);
        EXPECT_EQ(log.Text(), line);
    }
}

TEST_F(WindowsPort, InputBufferFailuresAreLoggedAndLeftOutOfTheRotation) {
    AddPad();
    struct Case {
        Call call;
        std::vector<const char*> lines;
        unsigned queued;
    };
    const Case cases[] = {
        {Call::InPrepare,
         {"Failed to prepare input buffer [3] (There is not enough memory available for this task.).\n",
          "Failed to add input buffer [3] (The MIDI header was not prepared.).\n"},
         9},
        {Call::InAddBuffer, {"Failed to add input buffer [3] (There is not enough memory available for this task.).\n"}, 9},
        {Call::InStart, {"Failed to start MIDI IN (There is not enough memory available for this task.).\n"}, 10},
    };
    for (const Case& c : cases) {
        winmm_layer::FailCall(c.call, MMSYSERR_NOMEM, c.call == Call::InStart ? 0 : 3);
        WindowsMidiPort port(Settings());
        LogCapture log;
        EXPECT_TRUE(port.IsConnected());
        for (const char* line : c.lines) EXPECT_TRUE(log.Contains(line)) << log.Text();
        EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, c.queued);
    }
}

TEST_F(WindowsPort, ABufferThatCannotBeRecycledIsLogged) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    winmm_layer::FailCall(Call::InAddBuffer, MMSYSERR_NOMEM);
    LogCapture log;
    winmm_layer::InjectInput(0, {0xF0, 0x01, 0xF7});
    EXPECT_TRUE(log.Contains("WindowsMidiPort::MidiInCallback: Error recycling buffer\n"));
    EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, 9u);
}

TEST_F(WindowsPort, DisconnectHandsEveryBufferBackAndClosesBothSides) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    LogCapture log;
    port.Disconnect();
    EXPECT_EQ(log.Text().rfind("WindowsMidiPort::Disconnect\n", 0), 0u);
    EXPECT_FALSE(log.Contains("Failed to unprepare"));
    const winmm_layer::Stats s = winmm_layer::GetStats();
    EXPECT_EQ(s.openOutHandles + s.openInHandles + s.preparedInHeaders + s.closeRefusals, 0u);
    // The next question opens it again.
    EXPECT_TRUE(port.IsConnected());
    EXPECT_EQ(winmm_layer::GetStats().inOpens, 2u);
}

// An input the driver will not close may still be written to and called back after the port is
// gone: its buffers and the callback's object stay for good (run under AddressSanitizer as well,
// which sees a write into freed memory). The bytes that arrive then reach no port.
TEST_F(WindowsPort, AnInputThatWillNotCloseKeepsItsBuffersAfterThePortIsGone) {
    const struct {
        const char* what;
        Call call;
        MMRESULT error;
        unsigned queued;  // buffers the driver still has queued once the port is gone
    } cases[] = {
        {"the close fails", Call::InClose, MMSYSERR_ERROR, 0},
        {"the reset fails: the buffers stay queued and the close is refused", Call::InReset, MMSYSERR_ERROR, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winmm_layer::Reset();
        AddPad();
        LogCapture log;
        {
            WindowsMidiPort port(Settings());
            ASSERT_TRUE(port.IsConnected());
            winmm_layer::FailCall(c.call, c.error, 0, 1000);
        }
        EXPECT_TRUE(log.Contains("Failed to close MIDI IN"));
        winmm_layer::Stats s = winmm_layer::GetStats();
        EXPECT_EQ(s.openInHandles, 1u);
        EXPECT_EQ(s.queuedInBuffers, c.queued);
        const unsigned callbacks = s.callbacksRun;
        winmm_layer::LateInput(0, {0xF0, 0x01, 0x02, 0xF7});
        s = winmm_layer::GetStats();
        EXPECT_EQ(s.callbacksRun, callbacks + 1);
        EXPECT_EQ(s.queuedInBuffers, c.queued == 0 ? 0u : c.queued - 1);  // none goes back
        EXPECT_TRUE(log.Contains("MIM longdata message(4)\n"));
    }
}

// The input callback queues a buffer again while the caller closes the input: no buffer may slip
// back in behind the reset, or the close is refused and the device stays open for good (run under
// ThreadSanitizer and AddressSanitizer as well).
TEST_F(WindowsPort, ReconnectingWhileInputArrivesClosesEveryHandle) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    Bytes message(700, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop) winmm_layer::InjectInput(0, message);
    });
    LogCapture log;
    // A driver slow to prepare a buffer keeps the callback between its test and its re-adding.
    winmm_layer::SlowCall(Call::InPrepare, 200);
    constexpr unsigned kRounds = 300;
    for (unsigned round = 0; round < kRounds; ++round) {
        // Each round closes while input flows: after a whole message has come in.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (port.GetSysEx().empty() && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
        ASSERT_FALSE(port.GetSysEx().empty()) << "no input in round " << round;
        port.ClearSysEx();
        port.Reconnect();
    }
    stop = true;
    device.join();
    port.Disconnect();
    const winmm_layer::Stats s = winmm_layer::GetStats();
    EXPECT_EQ(s.inOpens, kRounds + 1);
    EXPECT_EQ(s.inCloses, kRounds + 1);
    EXPECT_EQ(s.closeRefusals, 0u);
    EXPECT_EQ(s.openInHandles + s.preparedInHeaders, 0u);
    EXPECT_FALSE(log.Contains("Failed to")) << log.Text().substr(0, 2000);
}

// A port only sets the system timer to 1 ms, for as long as it exists.
TEST_F(WindowsPort, APortThatNeverConnectedTouchesNoDeviceButTheTimer) {
    AddPad();
    LogCapture log;
    {
        WindowsMidiPort port(Settings());
        EXPECT_EQ(winmm_layer::GetStats().timerPeriods, 1u);
        EXPECT_EQ(winmm_layer::GetStats().finestTimerPeriod, 1u);
    }
    EXPECT_EQ(log.Text(), "WindowsMidiPort::Disconnect\n");
    EXPECT_EQ(winmm_layer::GetStats().inResets, 0u);
    EXPECT_EQ(winmm_layer::GetStats().timerPeriods, 0u);
}

TEST_F(WindowsPort, ReconnectOnlyReopensAnOpenPort) {
    AddPad();
    WindowsMidiPort port(Settings());
    port.Reconnect();
    EXPECT_EQ(winmm_layer::GetStats().outOpens, 0u);
    ASSERT_TRUE(port.IsConnected());
    port.Reconnect();
    const winmm_layer::Stats s = winmm_layer::GetStats();
    EXPECT_EQ(s.outOpens, 2u);
    EXPECT_EQ(s.outCloses, 1u);
    EXPECT_EQ(s.openOutHandles, 1u);
}

TEST_F(WindowsPort, ADeviceThatVanishesIsNotConnectedUntilItReturns) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    winmm_layer::SetOutputPresent(0, false);
    LogCapture log;
    EXPECT_FALSE(port.IsConnected());
    EXPECT_TRUE(log.Contains(" connected=no (handle="));
    EXPECT_TRUE(log.Contains(", err=6)\n"));
    const Bytes chunk = {0xF0, 0x01, 0xF7};
    port.Send(chunk.data(), 3);
    EXPECT_EQ(port.SendFailures(), 1u);
    winmm_layer::SetOutputPresent(0, true);
    EXPECT_TRUE(port.IsConnected());
}

TEST_F(WindowsPort, AskForPortAddsTheFirstDeviceTheUserAccepts) {
    winmm_layer::AddOutput("A");
    winmm_layer::AddOutput("B");
    winmm_layer::AddOutput("2- C");
    winmm_layer::AddInput("2- C");
    winmm_layer::SetOutputPresent(1, false);
    winmm_layer::QueueMessageBoxAnswers({IDNO, IDYES});
    WindowsMidiPort port(Settings({"Nothing here"}));
    port.AskForPort();
    EXPECT_EQ(winmm_layer::MessageBoxTexts(),
              (std::vector<std::string>{"Do you wish to update 'A'.\n\n", "Do you wish to update '2- C'.\n\n"}));
    const Bytes chunk = {0xF0, 0x01, 0xF7};
    port.Send(chunk.data(), 3);
    EXPECT_EQ(winmm_layer::SentOn(2).size(), 1u);
}

// Input arrives on the callback thread while the caller reads and clears the stored message:
// every message read is one whole message (run under ThreadSanitizer as well).
TEST_F(WindowsPort, TheCallerNeverSeesATornMessage) {
    AddPad();
    WindowsMidiPort port(Settings());
    ASSERT_TRUE(port.IsConnected());
    const Bytes a = {0xF0, 0x01, 0x02, 0x03, 0xF7};
    Bytes b(600, 0x22);
    b.front() = 0xF0;
    b.back() = 0xF7;
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int i = 0; i < 200; ++i) winmm_layer::InjectInput(0, i % 2 ? a : b);
        done = true;
    });
    ScopedLogMute mute;
    while (!done) {
        const Bytes got = port.GetSysEx();
        if (!got.empty()) {
            EXPECT_TRUE(got == a || got == b);
        }
        port.ClearSysEx();
    }
    device.join();
    winmm_layer::InjectInput(0, a);
    EXPECT_EQ(port.GetSysEx(), a);
    EXPECT_EQ(winmm_layer::GetStats().queuedInBuffers, 10u);
}

}  // namespace
