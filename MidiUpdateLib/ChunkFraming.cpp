#include "ChunkFraming.h"

#include "Clock.h"

std::uint32_t UsableIdealChunkSize(std::int32_t ideal) {
    // Read as unsigned like every length here: a negative ideal is larger than any portion, so
    // each portion goes out as one chunk. Only 0 would cut empty chunks.
    return ideal != 0 ? static_cast<std::uint32_t>(ideal) : kFallbackIdealChunkSize;
}

const std::uint8_t* FindChunkEnd(const std::uint8_t* cursor, const std::uint8_t* end,
                                 std::uint32_t ideal, std::uint32_t max, bool lineFeedEndsChunk) {
    // An ideal of 0 would look at the byte before the chunk and could cut an empty one.
    if (ideal == 0) ideal = kFallbackIdealChunkSize;
    if (static_cast<std::uint32_t>(end - cursor) < ideal) return end;
    const std::uint8_t* e = cursor + ideal;
    while (static_cast<std::uint32_t>(e - cursor) < max) {
        if (e == end) break;
        const std::uint8_t last = *(e - 1);
        // A line feed ends a chunk just as the end of a SysEx message does, where the rules say so.
        if (last == 0xF7 || (lineFeedEndsChunk && last == 0x0A)) break;
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

ChunkRules MakeChunkRules(std::int32_t ideal, std::int32_t max, bool wholeMessages, bool frame) {
    // Compared as unsigned like every length here; a negative max lets chunks grow to a message end.
    return {UsableIdealChunkSize(ideal), wholeMessages ? UINT32_MAX : static_cast<std::uint32_t>(max),
            !wholeMessages, frame};
}

ChunkRules ChunkRulesFor(const PortSettings& settings) {
    return MakeChunkRules(settings.ideal, settings.max, settings.wholeMessages, settings.chunks);
}

const std::uint8_t* NextChunkEnd(const std::uint8_t* cursor, const std::uint8_t* end, const ChunkRules& rules) {
    return FindChunkEnd(cursor, end, rules.ideal, rules.max, rules.lineFeedEndsChunk);
}

namespace {

// Calls `chunk` with the bounds of every chunk of `data`, in order.
template <typename Each>
void ForEachChunk(const std::vector<std::uint8_t>& data, const ChunkRules& rules, Each chunk) {
    const std::uint8_t* cursor = data.data();
    const std::uint8_t* const end = cursor + data.size();
    while (cursor != end) {
        const std::uint8_t* chunkEnd = NextChunkEnd(cursor, end, rules);
        chunk(cursor, chunkEnd);
        cursor = chunkEnd;
    }
}

}  // namespace

std::vector<std::uint8_t> WireBytes(const std::vector<std::uint8_t>& data, const ChunkRules& rules) {
    std::vector<std::uint8_t> wire;
    wire.reserve(data.size());
    ForEachChunk(data, rules, [&](const std::uint8_t* from, const std::uint8_t* to) {
        const std::vector<std::uint8_t> framed = FrameChunk(from, static_cast<std::uint32_t>(to - from), rules.frame);
        wire.insert(wire.end(), framed.begin(), framed.end());
    });
    return wire;
}

CutCount CountCutMessages(const std::vector<std::uint8_t>& data, const ChunkRules& rules) {
    CutCount count;
    // Where each chunk begins, as offsets into `data`.
    std::vector<std::size_t> starts;
    ForEachChunk(data, rules, [&](const std::uint8_t* from, const std::uint8_t* to) {
        starts.push_back(static_cast<std::size_t>(from - data.data()));
        const std::vector<std::uint8_t> framed = FrameChunk(from, static_cast<std::uint32_t>(to - from), rules.frame);
        count.bytesInserted += framed.size() - static_cast<std::size_t>(to - from);
    });
    std::size_t next = 0;  // the first chunk start after the message's F0
    for (std::size_t at = 0; at < data.size(); ++at) {
        if (data[at] != 0xF0) continue;
        std::size_t last = at + 1;
        while (last < data.size() && data[last] != 0xF7) ++last;
        const std::size_t messageEnd = last < data.size() ? last + 1 : data.size();
        ++count.messages;
        while (next < starts.size() && starts[next] <= at) ++next;
        std::uint32_t pieces = 1;
        for (std::size_t k = next; k < starts.size() && starts[k] < messageEnd; ++k) ++pieces;
        if (pieces > 1) ++count.cut;
        // Framed, each piece arrives as a message of its own; unframed, the device still sees one.
        count.wireMessages += rules.frame ? pieces : 1u;
        at = messageEnd - 1;
    }
    return count;
}

std::uint32_t PauseMs(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0u; }

void ChunkPacing::AfterHandOver() const { SleepMs(PauseMs(delay)); }

void ChunkPacing::AfterRelease() const { SleepMs(PauseMs(unprepDelay)); }
