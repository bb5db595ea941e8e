#include "Clock.h"

#include <chrono>
#include <thread>

namespace {

// A plain atomic flag is what a signal handler may touch.
std::atomic<bool> cancelRequested{false};

RealClock& TheRealClock() {
    static RealClock clock;
    return clock;
}

std::atomic<Clock*> currentClock{nullptr};

void ThrowIfCancelled() {
    if (cancelRequested.load()) throw RunCancelled();
}

}  // namespace

void RequestCancel() { cancelRequested.store(true); }
void ResetCancel() { cancelRequested.store(false); }
bool CancelRequested() { return cancelRequested.load(); }

std::uint64_t RealClock::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::SleepMs(std::uint32_t ms) {
    using namespace std::chrono;
    // Slices of at most 50 ms: 20 wake-ups a second at worst, so a Ctrl-C is honoured quickly
    // without spinning. The deadline is absolute, so slicing adds no drift.
    constexpr milliseconds slice(50);
    const auto deadline = steady_clock::now() + milliseconds(ms);
    ThrowIfCancelled();
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= deadline) break;
        std::this_thread::sleep_until(deadline - now > slice ? now + slice : deadline);
        ThrowIfCancelled();
    }
}

void SimulatedClock::SleepMs(std::uint32_t ms) {
    ThrowIfCancelled();
    {
        std::lock_guard<std::mutex> guard(sleepsLock);
        sleeps.push_back(ms);
    }
    now += ms;
}

std::vector<std::uint32_t> SimulatedClock::Sleeps() const {
    std::lock_guard<std::mutex> guard(sleepsLock);
    return sleeps;
}

std::uint64_t SimulatedClock::TotalSleptMs() const {
    std::lock_guard<std::mutex> guard(sleepsLock);
    std::uint64_t total = 0;
    for (std::uint32_t ms : sleeps) total += ms;
    return total;
}

Clock& CurrentClock() {
    Clock* clock = currentClock.load();
    return clock ? *clock : TheRealClock();
}

void SetClock(Clock* clock) { currentClock.store(clock); }

ScopedClock::ScopedClock(Clock& clock) : previous(currentClock.load()) { SetClock(&clock); }
ScopedClock::~ScopedClock() { SetClock(previous); }

void SleepMs(std::uint32_t ms) { CurrentClock().SleepMs(ms); }

std::uint64_t GetTimeMs() { return CurrentClock().NowMs(); }
