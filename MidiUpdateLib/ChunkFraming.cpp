#include "ChunkFraming.h"

#include "Clock.h"

std::vector<std::uint8_t> FrameChunk(const std::uint8_t* data, std::uint32_t length, bool chunks) {
    std::vector<std::uint8_t> out;
    if (length == 0) return out;
    out.reserve(length + 2u);
    if (chunks && data[0] != 0xF0) out.push_back(0xF0);
    out.insert(out.end(), data, data + length);
    if (chunks && data[length - 1] != 0xF7) out.push_back(0xF7);
    return out;
}

std::uint32_t PauseMs(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0u; }

void ChunkPacing::AfterHandOver() const { SleepMs(PauseMs(delay)); }

void ChunkPacing::AfterRelease() const { SleepMs(PauseMs(unprepDelay)); }
