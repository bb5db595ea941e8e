#include "WebClock.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>

// Resumes the run at `deadline` (performance.now() time). A browser's timer fires a millisecond or
// more late, and one set from a timer's own callback waits at least 4 ms, which over the thousands
// of pauses of an update would add several percent. So the timer wakes the run 5 ms early, and
// the rest is waited in messages to itself, which the browser does not hold back: the page stays
// responsive, and the run resumes within a fraction of a millisecond of its deadline.
EM_ASYNC_JS(void, web_wait_until, (double deadline), {
    const channel = Module.waitChannel || (Module.waitChannel = new MessageChannel());
    const yieldOnce = () => new Promise((resolve) => {
        channel.port1.onmessage = resolve;
        channel.port2.postMessage(0);
    });
    if (deadline - performance.now() <= 6) await yieldOnce();
    for (;;) {
        const left = deadline - performance.now();
        if (left <= 0) break;
        if (left > 6) {
            await new Promise((resolve) => setTimeout(resolve, left - 5));
        } else {
            await yieldOnce();
        }
    }
});

std::uint64_t WebClock::NowMs() { return static_cast<std::uint64_t>(std::floor(emscripten_get_now())); }

void WebClock::SleepMs(std::uint32_t ms) {
    if (CancelRequested()) throw RunCancelled();
    // Waits with nothing sent between them make one pause, counted from the end the one before
    // was due: what the page did in between (reports, drawing, a late timer) is not added to it.
    const double now = emscripten_get_now();
    const double deadline = (chained ? std::min(now, previousDeadline) : now) + ms;
    chained = true;
    previousDeadline = deadline;
    // Even a wait of 0 yields once, so that a run never holds the page for longer than one step.
    web_wait_until(deadline);
    if (afterWait) afterWait();
    if (CancelRequested()) throw RunCancelled();
}
