#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Clock.h"
#include "Json.h"
#include "Reporters.h"

TEST(TerminalBar, ShowsTheFractionTheTimeLeftAndTheStatusOnOneLine) {
    std::string line = TerminalReporter::BarLine(false, 0.5f, 0, "Sent 1.5KB of 4.9KB", 75, 100);
    EXPECT_EQ(line, "[###############...............]  50%  1m 15s left  Sent 1.5KB of 4.9KB");
    // Out-of-range fractions are drawn clamped; no time left is shown when unknown.
    EXPECT_EQ(TerminalReporter::BarLine(false, 1.7f, 0, "x", -1, 100), "[" + std::string(30, '#') + "] 100%  x");
    // A status with line breaks stays on one line, cut after the last word that fits whole; a
    // word longer than the room is cut at the width.
    std::string cut = TerminalReporter::BarLine(true, 0.0f, 3, "one\ntwo" + std::string(200, 'z'), -1, 60);
    EXPECT_EQ(cut.find('\n'), std::string::npos);
    EXPECT_EQ(cut.substr(cut.size() - 5), "  one");
    EXPECT_EQ(TerminalReporter::BarLine(true, 0.0f, 3, std::string(200, 'z'), -1, 60).size(), 60u);
}

TEST(TerminalText, IsWrappedAtSpacesToTheWidth) {
    const struct {
        const char* text;
        std::size_t width;
        const char* wrapped;
    } cases[] = {
        {"Keep the synth switched on until the update is complete.", 20,
         "Keep the synth\nswitched on until\nthe update is\ncomplete."},
        {"short", 20, "short"},
        {"line one\nline two stays", 10, "line one\nline two\nstays"},
        {"averyveryverylongword here", 10, "averyveryverylongword\nhere"},
        {"  indented  twice", 40, "  indented  twice"},
        {"anything at all", 0, "anything at all"},
        {"", 10, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(WrapText(c.text, c.width), c.wrapped) << c.text;
}

TEST(TerminalBar, ANarrowTerminalGetsAShorterBarAndACutStatus) {
    const std::string status = "Sending chunk #2 of 3";
    for (std::size_t width : {100u, 60u, 40u, 24u, 12u}) {
        const std::string line = TerminalReporter::BarLine(false, 0.5f, 0, status, 75, width);
        EXPECT_LE(line.size(), width);
        const std::size_t bar = line.find(']') - 1;
        EXPECT_EQ(bar, std::max<std::size_t>(10, std::min<std::size_t>(30, (width - 10) / 3))) << width;
    }
    // A character of the 8-bit text is one column, though it takes two bytes in UTF-8.
    const std::string cut = TerminalReporter::BarLine(true, 0.0f, 0, std::string(100, '\xE9'), -1, 50);
    EXPECT_EQ(cut.substr(cut.size() - 2), "\xC3\xA9");
    EXPECT_EQ(cut.size(), 50u + std::count(cut.begin(), cut.end(), '\xC3'));
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

TEST(JsonFloat, WritesAtMostFourDecimalsWithoutTrailingZeros) {
    const std::pair<float, const char*> cases[] = {
        {0.0f, "0"}, {1.0f, "1"}, {0.25f, "0.25"}, {1.0f / 3.0f, "0.3333"}, {0.300000012f, "0.3"},
        {0.99999f, "1"}, {-0.00001f, "0"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(JsonFloat(value), text);
}

TEST(JsonText, ReadsUpdateTextsAsCodePage1252) {
    EXPECT_EQ(JsonText("Caf\xE9 \x80 \"q\""), "\"Caf\xC3\xA9 \xE2\x82\xAC \\\"q\\\"\"");
    EXPECT_EQ(JsonText("a\nb\x81\x7F"), "\"a\\u000Ab\\u0081\\u007F\"");
}
