// Cutting a portion into chunks with arbitrary ideal and max settings, through the sender as an
// update runs it. The chunks cover the portion exactly and in order, each holds at least one byte,
// none is longer than allowed, every chunk but the last is at least the ideal size, a chunk grows
// past the ideal size only to end at a message end or a line feed, and the sender rests once per
// chunk. Cut again in whole messages (a raw SysEx file's rule), every chunk but the last is at
// least the ideal size and ends at the first F7 from there on, whatever max says.
//
// Input: ideal and max as two little-endian 32-bit numbers, then the portion.

#include <cstdint>
#include <vector>

#include "ChunkFraming.h"
#include "Clock.h"
#include "FuzzSupport.h"
#include "MidiPort.h"
#include "SysExSender.h"
#include "UpdateProgress.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class ChunkPort : public MidiPort {
public:
    std::int32_t ideal = 0;
    std::int32_t max = 0;
    bool wholeMessages = false;
    std::vector<Bytes> chunks;
    std::int32_t GetIdealChunkSize() override { return ideal; }
    std::int32_t GetMaxChunkSize() override { return max; }
    bool SendsWholeMessages() override { return wholeMessages; }
    bool IsConnected() override { return true; }
    void Disconnect() override {}
    void Send(const std::uint8_t* data, std::uint32_t length) override { chunks.emplace_back(data, data + length); }
};

// Counts rests without keeping them: a fuzzing run makes millions.
class CountingClock : public Clock {
public:
    std::uint64_t NowMs() override { return now; }
    void SleepMs(std::uint32_t ms) override {
        now += ms;
        ++sleeps;
    }
    std::uint64_t now = 0;
    std::uint64_t sleeps = 0;
};

class FractionCheck : public UpdateProgress {
public:
    float last = 0.0f;
    void Progress(float fraction) override {
        FUZZ_REQUIRE(fraction >= last && fraction <= 1.0f);
        last = fraction;
    }
    void ProgressIndeterminate() override {}
    void Status(const std::string&) override {}
    void Error(const std::string&) override {}
    void Completed(const std::string&) override {}
    void BlockingMessage(const std::string&) override {}
};

std::int32_t ReadInt(const std::uint8_t* p) {
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    ChunkPort port;
    port.ideal = ReadInt(data);
    port.max = ReadInt(data + 4);
    SysExPortion portion;
    portion.data.assign(data + 8, data + size);

    CountingClock clock;
    ScopedClock use(clock);
    FractionCheck progress;
    SysExSender::SendChunked(portion, port, progress);

    const std::uint32_t ideal = UsableIdealChunkSize(port.ideal);
    FUZZ_REQUIRE(ideal != 0);
    const std::uint32_t max = static_cast<std::uint32_t>(port.max);
    const std::uint32_t longest = ideal >= max ? ideal : max;
    FUZZ_REQUIRE(clock.sleeps == port.chunks.size());

    Bytes joined;
    for (std::size_t i = 0; i < port.chunks.size(); ++i) {
        const Bytes& chunk = port.chunks[i];
        const bool last = i + 1 == port.chunks.size();
        FUZZ_REQUIRE(!chunk.empty());
        FUZZ_REQUIRE(chunk.size() <= longest);
        if (!last) FUZZ_REQUIRE(chunk.size() >= ideal);
        if (!last && ideal < max && chunk.size() > ideal && chunk.size() < max) {
            const std::uint8_t end = chunk.back();
            FUZZ_REQUIRE(end == 0xF7 || end == 0x0A);
        }
        if (!last && ideal >= max) FUZZ_REQUIRE(chunk.size() == ideal);
        joined.insert(joined.end(), chunk.begin(), chunk.end());
    }
    FUZZ_REQUIRE(joined == portion.data);
    FUZZ_REQUIRE(progress.last == 1.0f);

    ChunkPort whole;
    whole.ideal = port.ideal;
    whole.max = port.max;
    whole.wholeMessages = true;
    FractionCheck wholeProgress;
    SysExSender::SendChunked(portion, whole, wholeProgress);
    joined.clear();
    for (std::size_t i = 0; i < whole.chunks.size(); ++i) {
        const Bytes& chunk = whole.chunks[i];
        FUZZ_REQUIRE(!chunk.empty());
        if (i + 1 != whole.chunks.size()) {
            FUZZ_REQUIRE(chunk.size() >= ideal && chunk.back() == 0xF7);
            // No earlier message end from the ideal size on.
            for (std::size_t k = ideal - 1; k + 1 < chunk.size(); ++k) FUZZ_REQUIRE(chunk[k] != 0xF7);
        }
        joined.insert(joined.end(), chunk.begin(), chunk.end());
    }
    FUZZ_REQUIRE(joined == portion.data);
    FUZZ_REQUIRE(wholeProgress.last == 1.0f);
    return 0;
}
