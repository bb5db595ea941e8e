#pragma once
// The clock of an update run in the page: every wait hands the page back to the browser (which
// draws, takes clicks and delivers MIDI meanwhile) and resumes the run when it is over. Built with
// Emscripten's Asyncify, which lets the C++ run be suspended in the middle of its call stack.

#include <cstdint>
#include <functional>

#include "Clock.h"

class WebClock : public Clock {
public:
    // `afterWait` runs after each wait, before the run goes on (it takes what arrived meanwhile).
    explicit WebClock(std::function<void()> afterWait) : afterWait(std::move(afterWait)) {}
    std::uint64_t NowMs() override;
    // Yields to the browser until `ms` have passed, to within a fraction of a millisecond; a wait
    // that follows another with nothing sent in between continues its pause.
    void SleepMs(std::uint32_t ms) override;
    // Something went out: the next wait starts a new pause.
    void Sent() { chained = false; }

private:
    std::function<void()> afterWait;
    bool chained = false;
    double previousDeadline = 0;
};
