// The forecast of a run against the virtual device: the length the send command's preview and
// the page's description of a file show, computed silently on a clock of its own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Clock.h"
#include "DeviceTestSupport.h"
#include "Log.h"
#include "UpdateForecast.h"

namespace {

// A portion of 1000 bytes is one chunk under the default port settings: 200 + 100 ms of pauses
// after it and 1000 / 4096 s (244 ms) of sending. A 4000-byte message is cut at max into 3072 and
// 928 bytes: 300 + 750 and 300 + 226 ms.
const Bytes kSmall = SysExMessages(10, 100, 0);
const Bytes kLarge = SysExMessages(1, 4000, 2);
constexpr std::uint64_t kSmallMs = 544;
constexpr std::uint64_t kLargeMs = 1576;
// A silent device: six status polls of 2000 ms per portion, then the wait for an identity reply.
constexpr std::uint64_t kSilentPollsMs = 6 * 2000;
constexpr std::uint64_t kNoIdentityMs = 5000;

void CollectLog(void* context, const char* text, std::size_t length) {
    static_cast<std::string*>(context)->append(text, length);
}

TEST(Forecast, TheRunsLengthAndReportTimes) {
    const struct {
        const char* name;
        Update update;
        const char* behaviour;
        std::uint64_t totalMs;
    } cases[] = {
        {"accepting, two portions", MakeUpdate({kSmall, kLarge}), "", kSmallMs + kLargeMs},
        {"silent, no identity", MakeUpdate({kLarge}), "status=none,identity=none",
         kLargeMs + kSilentPollsMs + kNoIdentityMs},
        {"failing", MakeUpdate({kSmall}), "status=fail", kSmallMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Forecast forecast = ForecastRun(c.update, c.update.winPort, ParseDeviceBehaviour(c.behaviour));
        EXPECT_EQ(forecast.totalMs, c.totalMs);
        ASSERT_FALSE(forecast.times.empty());
        for (std::size_t i = 1; i < forecast.times.size(); ++i) EXPECT_LE(forecast.times[i - 1], forecast.times[i]);
        // The verdict is the last report.
        EXPECT_EQ(forecast.times.back(), c.totalMs);
    }
}

// A forecast neither waits on nor moves the clock of whoever asks, and says nothing in their log.
TEST(Forecast, LeavesTheCallersClockAndLogAlone) {
    SimulatedClock callers(7000);
    ScopedClock use(callers);
    std::string log;
    SetLogSink(&CollectLog, &log);
    const Update update = MakeUpdate({kSmall, kLarge});
    const Forecast forecast = ForecastRun(update, update.winPort, DeviceBehaviour());
    EXPECT_EQ(forecast.totalMs, kSmallMs + kLargeMs);
    EXPECT_EQ(&CurrentClock(), &callers);
    EXPECT_EQ(callers.NowMs(), 7000u);
    EXPECT_TRUE(callers.Sleeps().empty());
    EXPECT_EQ(log, "");
    LogMessage("after\n");
    EXPECT_EQ(log, "after\n");
    SetLogSink(nullptr, nullptr);
}

TEST(TimelineRecorder, StampsEachReportFromItsStartAndKeepsTheVerdict) {
    SimulatedClock clock(1000);
    TimelineRecorder recorder(clock);
    recorder.Status("a");
    clock.Advance(250);
    recorder.Progress(0.5f);
    clock.Advance(50);
    recorder.Completed("done");
    EXPECT_EQ(recorder.times, (std::vector<std::uint64_t>{0, 250, 300}));
    EXPECT_EQ(recorder.verdict, "done");
}

}  // namespace
