#pragma once
// A fresh simulated winmm for every test, and a simulated clock that lets the devices answer
// whenever the caller sleeps.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "Clock.h"
#include "WinmmLayerControl.h"

// A simulated clock whose sleeps also deliver what the devices have sent by the new time, as the
// operating system would while the caller slept.
class LayerClock : public Clock {
public:
    std::uint64_t NowMs() override { return simulated.NowMs(); }
    void SleepMs(std::uint32_t ms) override {
        simulated.SleepMs(ms);
        while (!events.empty() && events.front().first <= simulated.NowMs()) {
            std::function<void()> event = std::move(events.front().second);
            events.erase(events.begin());
            event();
        }
        winmm_layer::DeliverDue();
    }
    // Runs `event` at the end of the first sleep that reaches `atMs` (events in time order).
    void At(std::uint64_t atMs, std::function<void()> event) { events.emplace_back(atMs, std::move(event)); }
    std::vector<std::uint32_t> Sleeps() const { return simulated.Sleeps(); }
    void Advance(std::uint64_t ms) { simulated.Advance(ms); }

private:
    SimulatedClock simulated;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> events;
};

class LayerTest : public ::testing::Test {
protected:
    LayerTest() : useClock(clock) {
        winmm_layer::Reset();
        winmm_layer::SetTimeSource([this] { return clock.NowMs(); });
    }
    ~LayerTest() override {
        winmm_layer::Reset();
        winmm_layer::SetTimeSource(nullptr);
    }

    LayerClock clock;
    ScopedClock useClock;
};
