// Cutting a 64 MB portion into chunks and framing each as a port puts it on the wire, against
// copying the same bytes: the sender's own work per byte should be a small multiple of a copy.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ChunkFraming.h"
#include "SysExSender.h"

namespace {

constexpr std::size_t kPortionBytes = 64 * 1024 * 1024;

const std::vector<std::uint8_t>& Portion() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> d(kPortionBytes);
        for (std::size_t i = 0; i < d.size(); ++i) {
            const std::size_t inMessage = i % 1000;  // messages that do not line up with the chunks
            d[i] = inMessage == 0 ? 0xF0 : inMessage == 999 ? 0xF7 : static_cast<std::uint8_t>(i & 0x7F);
        }
        return d;
    }();
    return data;
}

void CopyPortion(benchmark::State& state) {
    const std::vector<std::uint8_t>& portion = Portion();
    std::vector<std::uint8_t> copy(portion.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), portion.data(), portion.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(portion.size()));
}

void CutAndFramePortion(benchmark::State& state) {
    const std::vector<std::uint8_t>& portion = Portion();
    const std::uint8_t* const end = portion.data() + portion.size();
    std::size_t chunks = 0;
    for (auto _ : state) {
        for (const std::uint8_t* cursor = portion.data(); cursor != end;) {
            const std::uint8_t* chunkEnd = FindChunkEnd(cursor, end, 1024, 3072);
            const std::vector<std::uint8_t> framed =
                FrameChunk(cursor, static_cast<std::uint32_t>(chunkEnd - cursor), true);
            benchmark::DoNotOptimize(framed.data());
            cursor = chunkEnd;
            ++chunks;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(portion.size()));
    state.counters["chunks"] = static_cast<double>(chunks) / static_cast<double>(state.iterations());
}

BENCHMARK(CopyPortion)->Unit(benchmark::kMillisecond);
BENCHMARK(CutAndFramePortion)->Unit(benchmark::kMillisecond);

}  // namespace
