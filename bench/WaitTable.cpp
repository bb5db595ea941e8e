// How long a user waits in total for updates of 16 KB, 256 KB and 1 MB with the default pacing
// (the dry-run figure: the whole run on a simulated clock against a device that accepts), next to
// the time the same bytes take on a 31250-baud MIDI cable, with the parts the time goes to.

#include <cstdint>
#include <cstdio>

#include "Clock.h"
#include "Log.h"
#include "SysExSender.h"
#include "QuietProgress.h"
#include "VirtualDevice.h"

namespace {

// One portion of 1 KiB SysEx messages, default port settings.
Update MakeUpdate(std::size_t bytes) {
    Update update;
    update.productName = "Bench";
    update.version = {1, 0};
    SysExPortion portion;
    for (std::size_t m = 0; m < bytes / 1024; ++m) {
        portion.data.push_back(0xF0);
        portion.data.insert(portion.data.end(), 1022, static_cast<std::uint8_t>(0x10 + m % 0x60));
        portion.data.push_back(0xF7);
    }
    update.portions.push_back(portion);
    return update;
}

}  // namespace

int main() {
    std::printf("| update | chunks | user waits (dry run) | chunk rests | port pauses | status and enquiry | "
                "31250-baud cable | ratio |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (std::size_t kb : {16u, 256u, 1024u}) {
        const Update update = MakeUpdate(kb * 1024);
        ScopedLogMute mute;
        SimulatedClock clock;
        ScopedClock use(clock);
        VirtualDevice device(update, update.winPort, DeviceBehaviour{});
        SimpleSysExSender sender(device);
        QuietProgress progress;
        sender.Send(update, progress);

        const std::uint64_t totalMs = clock.NowMs();
        const std::uint32_t chunks = device.GetStats().chunksReceived;
        // Every chunk rests length/4096 s after it and the port pauses delay + unprepDelay.
        const std::uint64_t restsMs = static_cast<std::uint64_t>(kb) * 1024 * 1000 / 4096;
        const std::uint64_t pausesMs = static_cast<std::uint64_t>(chunks) *
                                       static_cast<std::uint64_t>(update.winPort.delay + update.winPort.unprepDelay);
        const std::uint64_t otherMs = totalMs - restsMs - pausesMs;
        const double cableMs = static_cast<double>(kb * 1024) * 1000.0 / 3125.0;
        std::printf("| %zu KB | %u | %.1f s | %.1f s | %.1f s | %.1f s | %.1f s | %.2f |\n", kb, chunks,
                    static_cast<double>(totalMs) / 1000.0, static_cast<double>(restsMs) / 1000.0,
                    static_cast<double>(pausesMs) / 1000.0, static_cast<double>(otherMs) / 1000.0,
                    cableMs / 1000.0, static_cast<double>(totalMs) / cableMs);
    }
    return 0;
}
