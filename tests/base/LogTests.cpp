#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

TEST(Log, ALongLineReachesTheSinkCutTo287Characters) {
    LogCapture log;
    std::string longText(300, 'x');
    LogMessage("%s", longText.c_str());
    EXPECT_EQ(log.Text(), std::string(287, 'x'));
}

TEST(Log, PercentSignsInArgumentsArriveUnchanged) {
    LogCapture log;
    LogMessage("%s: %u\n", "Pad 100%", 5u);
    EXPECT_EQ(log.Text(), "Pad 100%: 5\n");
}

TEST(Log, LinesWrittenWithoutASinkAreDroppedNotHeldBack) {
    SetLogSink(nullptr, nullptr);
    LogMessage("nobody listens %d\n", 1);
    LogCapture log;
    LogMessage("after\n");
    EXPECT_EQ(log.Text(), "after\n");
}

TEST(Log, AMuteSilencesTheSinkAndRestoresItAfterwards) {
    LogCapture log;
    {
        ScopedLogMute mute;
        LogMessage("hidden\n");
    }
    LogMessage("shown\n");
    EXPECT_EQ(log.Text(), "shown\n");
}

TEST(Log, LinesFromManyThreadsNeverMixWithinALine) {
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) LogMessage("thread %d line %03d ----------------\n", t, i);
        });
    for (std::thread& th : threads) th.join();
    std::size_t lines = 0, start = 0;
    const std::string& text = log.Text();
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.size(), std::string("thread 0 line 000 ----------------").size()) << line;
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 2000u);
}

TEST(FormatString, CutsAfter287CharactersAndKeepsShortTexts) {
    EXPECT_EQ(FormatString("%u.%02u", 1u, 5u), "1.05");
    EXPECT_EQ(FormatString("%s", std::string(400, 'a').c_str()).size(), 287u);
    EXPECT_EQ(FormatString("%s", ""), "");
}

TEST(FormatToBuffer, CutsToTheBufferLessOneAndTerminates) {
    char small[6];
    int n = FormatToBuffer(small, sizeof small, "%s", "abcdefgh");
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(n, 5);
    char exact[9];
    FormatToBuffer(exact, sizeof exact, "%d-%d", 12, 345);
    EXPECT_STREQ(exact, "12-345");
}
