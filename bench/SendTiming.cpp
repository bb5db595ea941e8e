// Sends a 16 KB update to the virtual device in real time and compares the wall time with the sum
// of the pauses the pacing rules prescribe (the same run on a simulated clock, where only those
// pauses take time), and reports the CPU the process used meanwhile.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "Clock.h"
#include "SysExSender.h"
#include "QuietProgress.h"
#include "VirtualDevice.h"

namespace {

Update SixteenKilobytes() {
    Update update;
    update.productName = "Bench";
    update.version = {1, 0};
    for (int p = 0; p < 2; ++p) {
        SysExPortion portion;
        for (int m = 0; m < 8; ++m) {
            portion.data.push_back(0xF0);
            portion.data.insert(portion.data.end(), 1022, static_cast<std::uint8_t>(0x10 + m));
            portion.data.push_back(0xF7);
        }
        update.portions.push_back(portion);
    }
    return update;
}

std::uint64_t Run(const Update& update) {
    VirtualDevice device(update, update.winPort, DeviceBehaviour{});
    SimpleSysExSender sender(device);
    QuietProgress progress;
    std::uint64_t start = CurrentClock().NowMs();
    sender.Send(update, progress);
    return CurrentClock().NowMs() - start;
}

}  // namespace

int main() {
    const Update update = SixteenKilobytes();
    std::uint64_t prescribed;
    {
        SimulatedClock simulated;
        ScopedClock use(simulated);
        prescribed = Run(update);
    }
    std::clock_t cpuStart = std::clock();
    auto wallStart = std::chrono::steady_clock::now();
    Run(update);
    double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
    double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;

    double overPercent = 100.0 * (wallMs - static_cast<double>(prescribed)) / static_cast<double>(prescribed);
    double cpuPercent = 100.0 * cpuMs / wallMs;
    std::printf("16 KB update, %u bytes in %zu portions\n", TotalSysExSize(update), update.portions.size());
    std::printf("prescribed pauses: %llu ms\n", static_cast<unsigned long long>(prescribed));
    std::printf("real-time send:    %.1f ms (%+.2f%%)\n", wallMs, overPercent);
    std::printf("CPU time:          %.1f ms (%.2f%% of one core)\n", cpuMs, cpuPercent);
    bool ok = overPercent < 2.0 && cpuPercent < 5.0;
    std::printf("%s\n", ok ? "within limits (under 2% over, under 5% CPU)" : "OUT OF LIMITS");
    return ok ? 0 : 1;
}
