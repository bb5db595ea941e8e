// The window program's arithmetic and texts, checked without a screen.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AppLogic.h"
#include "Log.h"

namespace {

TEST(CommandLinePath, DropsTheFirstAndLastCharacterAndFitsThePathBuffer) {
    struct Case {
        std::string tail;
        std::string path;
    };
    const std::string longName(300, 'a');
    const Case cases[] = {
        {"\"C:\\Updates\\synth 2.upd\"", "C:\\Updates\\synth 2.upd"},
        {"unquoted.upd", "nquoted.up"},  // an unquoted argument loses its ends all the same
        {"x", ""},
        {"\"\"", ""},
        {"\"" + longName + "\"", std::string(259, 'a')},
    };
    for (const Case& c : cases) EXPECT_EQ(CommandLinePath(c.tail), c.path) << c.tail;
    EXPECT_EQ(CutToPathBuffer(longName).size(), kPathBufferSize - 1);
}

TEST(Animation, StepsByThreeAndWrapsAboveAHundred) {
    const std::pair<int, int> steps[] = {{0, 3}, {96, 99}, {97, 100}, {98, 0}, {99, 0}, {100, 0}};
    for (auto [from, to] : steps) EXPECT_EQ(NextAnimationPosition(from), to) << from;

    // From 0 one cycle is 34 steps and never shows 100.
    int position = 0;
    for (int step = 1; step <= 34; ++step) {
        position = NextAnimationPosition(position);
        EXPECT_NE(position, 100);
        if (step < 34) {
            EXPECT_EQ(position, 3 * step);
        }
    }
    EXPECT_EQ(position, 0);
}

TEST(Centring, WindowOnScreenRoundsTowardZeroAndStaysOnScreen) {
    struct Case {
        int screenW, screenH, windowW, windowH, x, y;
    };
    const Case cases[] = {
        {1024, 768, 506, 250, 259, 259},
        {1024, 768, 515, 251, 254, 258},  // odd differences: halves rounded down
        {400, 200, 515, 251, 0, 0},       // larger than the screen: pinned to the corner
        {1024, 100, 515, 251, 254, 0},
    };
    for (const Case& c : cases) {
        Point p = CenteredOnScreen(c.screenW, c.screenH, c.windowW, c.windowH);
        EXPECT_EQ(p.x, c.x) << c.windowW;
        EXPECT_EQ(p.y, c.y) << c.windowH;
    }
}

TEST(Centring, MessageBoxOnOwnerIsKeptOnTheDesktop) {
    const Rect desktop{0, 0, 1024, 768};
    struct Case {
        Rect owner;
        int boxW, boxH, x, y;
    };
    const Case cases[] = {
        {{100, 100, 615, 351}, 201, 101, 100 + (257 - 100), 100 + (125 - 50)},
        {{-300, -200, 0, 0}, 200, 100, 0, 0},                  // owner partly off screen
        {{900, 700, 1400, 1000}, 300, 120, 1024 - 300, 768 - 120},  // past the right and bottom
        {{0, 0, 100, 50}, 400, 200, 0, 0},                     // box larger than its owner
    };
    for (const Case& c : cases) {
        Point p = CenteredOnOwner(c.owner, c.boxW, c.boxH, desktop);
        EXPECT_EQ(p.x, c.x) << c.owner.left;
        EXPECT_EQ(p.y, c.y) << c.owner.top;
    }
}

TEST(Centring, OuterSizeKeepsTheFrameAroundTheWantedClientArea) {
    // A frame of 8 + 8 pixels and a caption with menu of 50 pixels.
    Rect outer{10, 20, 310, 270};
    Rect client{0, 0, 284, 184};
    auto size = OuterSizeForClient(outer, client, 500, 200);
    EXPECT_EQ(size.first, 516);
    EXPECT_EQ(size.second, 266);
}

TEST(ProgressPosition, ScalesInSinglePrecisionAndTruncates) {
    const std::pair<float, int> cases[] = {
        {0.0f, 0}, {0.5f, 50}, {0.999f, 99}, {1.0f, 100}, {-0.5f, -50},
        // 0.29f x 100 is 28.99999916 in double precision but exactly 29 in single precision.
        {0.29f, 29},
    };
    for (auto [fraction, position] : cases) EXPECT_EQ(ProgressPosition(fraction), position) << fraction;
}

TEST(WindowTexts, AboutBoxNamesVersionAndBuildAndIsCutAt127) {
    EXPECT_EQ(AboutBoxText("MIDI Updater", "Notice."), "MIDI Updater\nVersion 1.14 (beta)\n\nNotice.");
    const std::string notice(200, 'n');
    std::string about = AboutBoxText("MIDI Updater", notice.c_str());
    EXPECT_EQ(about.size(), 127u);
    EXPECT_EQ(about.substr(0, 34), "MIDI Updater\nVersion 1.14 (beta)\n\n");
}

TEST(PictureSlot, AReplacedPictureWaitsForTheWindowThread) {
    PictureSlot<int> slot;
    EXPECT_EQ(slot.Current(), 0);
    slot.Replace(1);                  // the banner
    EXPECT_TRUE(slot.TakeRetired().empty());
    slot.Replace(2);                  // an update file's picture
    slot.Replace(3);                  // the next update's
    EXPECT_EQ(slot.Current(), 3);
    EXPECT_EQ(slot.TakeRetired(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(slot.TakeRetired().empty());
    EXPECT_EQ(slot.Current(), 3);     // the current picture is never handed out for release
}

TEST(PictureSlot, ReplacementsFromAnotherThreadAreNeitherLostNorReleasedTwice) {
    PictureSlot<int> slot;
    slot.Replace(1);
    std::vector<int> released;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int picture = 2; picture <= 2000; ++picture) slot.Replace(picture);
        done = true;
    });
    while (!done) {
        for (int old : slot.TakeRetired()) {
            EXPECT_NE(old, slot.Current());
            released.push_back(old);
        }
    }
    worker.join();
    for (int old : slot.TakeRetired()) released.push_back(old);
    ASSERT_EQ(released.size(), 1999u);
    for (std::size_t i = 0; i < released.size(); ++i) EXPECT_EQ(released[i], static_cast<int>(i) + 1);
    EXPECT_EQ(slot.Current(), 2000);
}

}  // namespace

namespace {

// What the guard asked of the system, and what the window answers after a sequence of events.
TEST(UpdateGuard, RefusesToEndDuringAnUpdateAndBlocksTheSessionOncePerUpdate) {
    enum Event { Start, End };
    struct Case {
        const char* what;
        bool systemGrants;
        std::vector<Event> events;
        int blocks, unblocks;
        bool mayLeave;
    };
    const Case cases[] = {
        {"idle", true, {}, 0, 0, true},
        {"updating", true, {Start}, 1, 0, false},
        {"after an update", true, {Start, End}, 1, 1, true},
        {"a start reported twice blocks once", true, {Start, Start}, 1, 0, false},
        {"an end with no start (a start that failed) lifts nothing", true, {End}, 0, 0, true},
        {"an end reported twice lifts once", true, {Start, End, End}, 1, 1, true},
        {"two updates", true, {Start, End, Start}, 2, 1, false},
        {"the system refuses the block: the window still refuses", false, {Start}, 1, 0, false},
        {"the system refused the block: nothing to lift", false, {Start, End}, 1, 0, true},
    };
    for (const Case& c : cases) {
        int blocks = 0, unblocks = 0;
        std::string reason;
        UpdateGuard guard(
            [&](const std::string& text) {
                ++blocks;
                reason = text;
                return c.systemGrants;
            },
            [&] { ++unblocks; });
        for (Event e : c.events) {
            if (e == Start) {
                guard.UpdateStarted();
            } else {
                guard.UpdateEnded();
            }
        }
        EXPECT_EQ(blocks, c.blocks) << c.what;
        EXPECT_EQ(unblocks, c.unblocks) << c.what;
        for (LeaveRequest request : {LeaveRequest::ExitCommand, LeaveRequest::CloseWindow, LeaveRequest::EndSession}) {
            EXPECT_EQ(guard.MayLeave(request), c.mayLeave) << c.what << " " << static_cast<int>(request);
        }
        if (blocks > 0) {
            EXPECT_EQ(reason, ShutdownBlockReasonText()) << c.what;
        }
    }
    // The reason speaks as the status line does during an update, within the system's limit of
    // 256 characters.
    EXPECT_EQ(ShutdownBlockReasonText().rfind(StatusLineText("").substr(1), 0), 0u);
    EXPECT_LT(ShutdownBlockReasonText().size(), 256u);
}

}  // namespace
