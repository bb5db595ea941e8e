#include "ChunkFraming.h"

#include "Clock.h"

std::uint32_t UsableIdealChunkSize(std::int32_t ideal) {
    // Read as unsigned like every length here: a negative ideal is larger than any portion, so
    // each portion goes out as one chunk. Only 0 would cut empty chunks.
    return ideal != 0 ? static_cast<std::uint32_t>(ideal) : kFallbackIdealChunkSize;
}

const std::uint8_t* FindChunkEnd(const std::uint8_t* cursor, const std::uint8_t* end,
                                 std::uint32_t ideal, std::uint32_t max) {
    // An ideal of 0 would look at the byte before the chunk and could cut an empty one.
    if (ideal == 0) ideal = kFallbackIdealChunkSize;
    if (static_cast<std::uint32_t>(end - cursor) < ideal) return end;
    const std::uint8_t* e = cursor + ideal;
    while (static_cast<std::uint32_t>(e - cursor) < max) {
        if (e == end) break;
        const std::uint8_t last = *(e - 1);
        // A line feed ends a chunk just as the end of a SysEx message does.
        if (last == 0xF7 || last == 0x0A) break;
        ++e;
    }
    return e;
}

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
