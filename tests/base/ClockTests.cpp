#include <gtest/gtest.h>

#include <chrono>

#include "Clock.h"

TEST(SimulatedClock, SleepsAdvanceTimeInstantlyAndAreRecorded) {
    SimulatedClock clock(1000);
    ScopedClock use(clock);
    auto before = std::chrono::steady_clock::now();
    SleepMs(10000);
    SleepMs(250);
    clock.Advance(5);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(CurrentClock().NowMs(), 11255u);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10000, 250}));
    EXPECT_EQ(clock.TotalSleptMs(), 10250u);
}

TEST(ScopedClock, RestoresThePreviousClockWhenItEnds) {
    SimulatedClock outer, inner(500);
    ScopedClock useOuter(outer);
    {
        ScopedClock useInner(inner);
        EXPECT_EQ(&CurrentClock(), &inner);
    }
    EXPECT_EQ(&CurrentClock(), &outer);
}

TEST(Cancel, ASleepAfterACancelRequestThrowsUntilReset) {
    SimulatedClock clock;
    ScopedClock use(clock);
    RequestCancel();
    EXPECT_THROW(SleepMs(1), RunCancelled);
    ResetCancel();
    EXPECT_NO_THROW(SleepMs(1));
    EXPECT_EQ(clock.NowMs(), 1u);
}

TEST(RealClock, AZeroSleepReturnsAndTimeNeverGoesBack) {
    RealClock clock;
    std::uint64_t a = clock.NowMs();
    clock.SleepMs(0);
    EXPECT_GE(clock.NowMs(), a);
}
