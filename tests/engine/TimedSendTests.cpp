#include <gtest/gtest.h>

#include "ScriptedPort.h"
#include "SysExSender.h"
#include "TestSupport.h"

namespace {

// A port that keeps its own pause inside every send, as the real ports do after handing over.
class PausingPort : public ScriptedPort {
public:
    std::uint32_t pauseMs = 0;
    void Send(const std::uint8_t* data, std::uint32_t length) override {
        ScriptedPort::Send(data, length);
        SleepMs(pauseMs);
    }
};

struct TimedCase {
    const char* name;
    std::vector<std::uint32_t> lengths;  // one message each
    std::vector<std::uint64_t> timesUs;
    std::uint64_t endUs;
    std::uint32_t portPauseMs;
    std::vector<std::uint64_t> sentAtMs;  // after a start at 1000
    std::uint64_t doneAtMs;
    std::vector<std::string> waitsSaid{};  // the statuses of long waits
};

void PrintTo(const TimedCase& c, std::ostream* os) { *os << c.name; }

// Messages of `lengths` bytes, each F0 ... F7, with their times.
SysExPortion TimedPortion(const TimedCase& c) {
    SysExPortion portion;
    for (std::size_t i = 0; i < c.lengths.size(); ++i) {
        portion.timing.push_back({static_cast<std::uint32_t>(portion.data.size()), c.timesUs[i]});
        Bytes message(c.lengths[i], static_cast<std::uint8_t>(i + 1));
        message.front() = 0xF0;
        message.back() = 0xF7;
        portion.data.insert(portion.data.end(), message.begin(), message.end());
    }
    portion.endUs = c.endUs;
    return portion;
}

class TimedSend : public ::testing::TestWithParam<TimedCase> {};

const TimedCase kTimedCases[] = {
    // Gaps wider than the pace: each message at its time, a part of a millisecond rounded up so
    // that nothing leaves early, and the file's end awaited.
    {"AtTheirTimes", {8, 8, 8}, {0, 250000, 1000500}, 3000000, 0, {1000, 1250, 2001}, 4000},
    // Two messages at the same time: the second waits for the rest after the first (2048 bytes
    // rest 500 ms at 1/4096 s a byte).
    {"EqualTimesKeepThePace", {2048, 8}, {0, 0}, 0, 0, {1000, 1500}, 1501},
    // Timed tighter than the pace: every message as soon as the one before has had its rest,
    // then the later ones at their own times again.
    {"TighterThanThePace", {4096, 4096, 8}, {0, 1000, 1500000}, 0, 0, {1000, 2000, 3000}, 3001},
    // The port's own pause inside each send comes before the rest.
    {"PortPausesCount", {8, 8}, {0, 100000}, 0, 300, {1000, 1301}, 1602},
    // A first message that is due later than the start waits for it.
    {"FirstMessageLate", {8}, {2000000}, 2500000, 0, {3000}, 3500,
     {"Waiting 2s for the next message, as the file times it"}},
    // A long quiet stretch is said with its length, so that it does not look like a hang; a wait
    // just under 2 s is not.
    {"LongWaitsAreSaid", {8, 8}, {1999000, 65000000}, 200000000, 0, {2999, 66000}, 201000,
     {"Waiting 1m 03s for the next message, as the file times it",
      "Waiting 2m 15s for the end of the file, as the file times it"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, TimedSend, ::testing::ValuesIn(kTimedCases),
                         [](const ::testing::TestParamInfo<TimedCase>& info) { return info.param.name; });

TEST_P(TimedSend, EachMessageWholeAndNoEarlierThanItsTime) {
    const TimedCase& c = GetParam();
    SimulatedClock clock{1000};
    ScopedClock useClock{clock};
    PausingPort port;
    port.pauseMs = c.portPauseMs;
    port.ideal = 1;  // a chunked send would cut every message to pieces
    RecordingProgress progress;
    const SysExPortion portion = TimedPortion(c);

    SysExSender::SendChunked(portion, port, progress);

    ASSERT_EQ(port.sends.size(), c.lengths.size());
    std::size_t offset = 0;
    for (std::size_t i = 0; i < port.sends.size(); ++i) {
        EXPECT_EQ(port.sends[i].atMs, c.sentAtMs[i]) << "message " << i;
        const Bytes expected(portion.data.begin() + static_cast<std::ptrdiff_t>(offset),
                             portion.data.begin() + static_cast<std::ptrdiff_t>(offset + c.lengths[i]));
        EXPECT_EQ(port.sends[i].bytes, expected) << "message " << i;
        offset += c.lengths[i];
    }
    EXPECT_EQ(clock.NowMs(), c.doneAtMs);
    std::vector<std::string> waits;
    for (const ProgressEvent& event : progress.events)
        if (event.text.compare(0, 8, "Waiting ") == 0) waits.push_back(event.text);
    EXPECT_EQ(waits, c.waitsSaid);
    ASSERT_FALSE(progress.events.empty());
    EXPECT_EQ(progress.events.back().text, "Sent " + FormatByteSize(static_cast<std::uint32_t>(offset)) + " of " +
                                               FormatByteSize(static_cast<std::uint32_t>(offset)));
}

}  // namespace
