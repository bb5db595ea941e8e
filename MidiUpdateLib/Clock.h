#pragma once
// The one clock through which every wait and every time reading of an update goes.
//
// The real clock sleeps; the simulated clock advances instantly, so that tests of ten-second
// waits run in no time and the timing of an update can be asserted to the millisecond.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <vector>

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, never decreasing.
    virtual std::uint64_t NowMs() = 0;
    // Waits `ms` milliseconds (the simulated clock just advances).
    virtual void SleepMs(std::uint32_t ms) = 0;
};

// Thrown out of a sleep once a cancellation was requested (Ctrl-C), so that an update run unwinds
// and every port it holds is closed by its destructor.
class RunCancelled : public std::runtime_error {
public:
    RunCancelled() : std::runtime_error("The update was cancelled.") {}
};

// Asks every sleep, now and later, to throw RunCancelled. Async-signal-safe.
void RequestCancel();
// Forgets an earlier cancellation request (for a new run, and for tests).
void ResetCancel();
bool CancelRequested();

class RealClock : public Clock {
public:
    std::uint64_t NowMs() override;
    // Sleeps to an absolute deadline in short slices, so that a cancellation is noticed promptly
    // while the thread stays idle (no busy waiting).
    void SleepMs(std::uint32_t ms) override;
};

class SimulatedClock : public Clock {
public:
    explicit SimulatedClock(std::uint64_t startMs = 0) : now(startMs) {}
    std::uint64_t NowMs() override { return now.load(); }
    void SleepMs(std::uint32_t ms) override;
    // Moves time forward without counting as a sleep (for driving a device from a test).
    void Advance(std::uint64_t ms) { now += ms; }
    // Every sleep asked of this clock, in order.
    std::vector<std::uint32_t> Sleeps() const;
    std::uint64_t TotalSleptMs() const;

private:
    std::atomic<std::uint64_t> now;
    mutable std::mutex sleepsLock;
    std::vector<std::uint32_t> sleeps;
};

// The clock in use; the real clock unless another one was installed.
Clock& CurrentClock();
// Installs `clock` (null restores the real clock). The caller keeps it alive while installed.
void SetClock(Clock* clock);

// Installs a clock for the lifetime of the object, then restores the previous one.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous;
};

// Sleeps on the current clock.
void SleepMs(std::uint32_t ms);
// Milliseconds on the current clock.
std::uint64_t GetTimeMs();
