#include <gtest/gtest.h>

#include <sstream>

#include "Clock.h"
#include "Json.h"
#include "Reporters.h"

TEST(TerminalBar, ShowsTheFractionTheTimeLeftAndTheStatusOnOneLine) {
    std::string line = TerminalReporter::BarLine(false, 0.5f, 0, "Sent 1.5KB of 4.9KB", 75, 100);
    EXPECT_EQ(line, "[###############...............]  50%  1m 15s left  Sent 1.5KB of 4.9KB");
    // Out-of-range fractions are drawn clamped; no time left is shown when unknown.
    EXPECT_EQ(TerminalReporter::BarLine(false, 1.7f, 0, "x", -1, 100), "[" + std::string(30, '#') + "] 100%  x");
    // A status with line breaks stays on one line, and the whole line is cut to the width.
    std::string cut = TerminalReporter::BarLine(true, 0.0f, 3, "one\ntwo" + std::string(200, 'z'), -1, 60);
    EXPECT_EQ(cut.size(), 60u);
    EXPECT_EQ(cut.find('\n'), std::string::npos);
    EXPECT_NE(cut.find("one two"), std::string::npos);
}

TEST(TerminalBar, TheBusyBlockSweepsBackAndForthInsideTheBar) {
    for (unsigned tick = 0; tick < 200; ++tick) {
        std::string line = TerminalReporter::BarLine(true, 0.0f, tick, "", -1, 100);
        ASSERT_EQ(line.substr(0, 32).find('='), line.substr(0, 32).find("=====")) << tick;
        ASSERT_EQ(line.find(']'), 31u);
    }
}

TEST(TerminalReporter, WithoutATtyPrintsStatusesOnlyAndKeepsTheVerdictForLast) {
    SimulatedClock clock;
    std::ostringstream out;
    {
        TerminalReporter reporter(out, false, clock, Acknowledger{});
        reporter.Progress(0.5f);
        reporter.ProgressIndeterminate();
        reporter.Status("Working");
        reporter.Completed("Done.");
        EXPECT_EQ(reporter.Verdict(), "Done.");
    }
    EXPECT_EQ(out.str(), "Working\n");
}

TEST(TerminalReporter, TheForecastGivesTheTimeLeftAfterEachReport) {
    SimulatedClock clock;
    std::ostringstream out;
    TerminalReporter reporter(out, true, clock, Acknowledger{});
    reporter.SetForecast({0, 4000, 9000}, 10000);
    reporter.Status("a");
    clock.Advance(500);  // a little slower than forecast: the estimate follows the report
    reporter.Status("b");
    reporter.Finish();
    EXPECT_NE(out.str().find("10s left  a"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("6s left  b"), std::string::npos) << out.str();
}

TEST(Acknowledger, ReadsOneLineAndTakesTheEndOfInputAsAGoAhead) {
    std::istringstream in("\nrest\n");
    std::ostringstream prompt;
    Acknowledger ack{&in, &prompt};
    ack.Wait();
    EXPECT_EQ(prompt.str(), "Press Enter to continue...");
    std::string left;
    std::getline(in, left);
    EXPECT_EQ(left, "rest");
    ack.Wait();  // end of input
    EXPECT_TRUE(in.good());
}

TEST(Acknowledger, ACancelledWaitThrowsInsteadOfContinuing) {
    std::istringstream in("");
    Acknowledger ack{&in, nullptr};
    RequestCancel();
    EXPECT_THROW(ack.Wait(), RunCancelled);
    ResetCancel();
}

TEST(EventsReporter, StampsEachEventWithTheTimeSinceTheRunStarted) {
    SimulatedClock clock(5000);
    std::ostringstream out;
    EventsReporter reporter(out, clock, Acknowledger{});
    reporter.Progress(0.625f);
    clock.Advance(42);
    reporter.Error("bad \"thing\"");
    reporter.BlockingMessage("ok?");
    EXPECT_EQ(out.str(),
              "{\"t\": 0, \"event\": \"progress\", \"value\": 0.625}\n"
              "{\"t\": 42, \"event\": \"error\", \"text\": \"bad \\\"thing\\\"\"}\n"
              "{\"t\": 42, \"event\": \"blocking\", \"text\": \"ok?\"}\n");
}

TEST(JsonFloat, WritesTheShortestTextThatReadsBackAsTheSameFloat) {
    EXPECT_EQ(JsonFloat(0.0f), "0");
    EXPECT_EQ(JsonFloat(1.0f), "1");
    EXPECT_EQ(JsonFloat(0.25f), "0.25");
    EXPECT_EQ(std::stof(JsonFloat(1.0f / 3.0f)), 1.0f / 3.0f);
}
