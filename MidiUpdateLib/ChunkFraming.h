#pragma once
// The one home of the rules that cut, frame and pace chunks, which the sender, the virtual device
// and every port share: where a chunk ends, the framing that makes each chunk a complete SysEx
// message, and the port's own pauses after it.

#include <cstdint>
#include <vector>

#include "PortSettings.h"

// Chunk size used when a port reports an ideal size of 0, which would cut empty chunks.
constexpr std::uint32_t kFallbackIdealChunkSize = 1024;
// The ideal chunk size a sender cuts with: the port's value read as unsigned (a negative one means
// one chunk per portion), with 0 replaced by the fallback.
std::uint32_t UsableIdealChunkSize(std::int32_t ideal);

// End of the next chunk of [cursor, end): at least `ideal` bytes, ending just after the first F7
// (or line feed, with `lineFeedEndsChunk`) from there on, never longer than `max` (unless ideal >=
// max). An ideal of 0 counts as the fallback size.
const std::uint8_t* FindChunkEnd(const std::uint8_t* cursor, const std::uint8_t* end,
                                 std::uint32_t ideal, std::uint32_t max, bool lineFeedEndsChunk = true);

// How a port cuts and frames a portion, as the sender and the port apply it.
struct ChunkRules {
    std::uint32_t ideal;
    std::uint32_t max;
    bool lineFeedEndsChunk;
    bool frame;
};
// The rules of a port's values: `wholeMessages` lifts max and keeps line feeds inside chunks, so
// that a chunk ends only where a message does.
ChunkRules MakeChunkRules(std::int32_t ideal, std::int32_t max, bool wholeMessages, bool frame);
ChunkRules ChunkRulesFor(const PortSettings& settings);
const std::uint8_t* NextChunkEnd(const std::uint8_t* cursor, const std::uint8_t* end, const ChunkRules& rules);

// The bytes a port with these rules puts on the wire for `data`: every chunk as cut, framed.
std::vector<std::uint8_t> WireBytes(const std::vector<std::uint8_t>& data, const ChunkRules& rules);

// What the rules do to the messages of `data` (each from an F0 up to its F7, or to the end).
struct CutCount {
    std::uint32_t messages = 0;
    std::uint32_t cut = 0;         // messages that a chunk boundary falls inside
    std::uint32_t wireMessages = 0;  // the messages a device receives: every framed piece is one
    std::uint64_t bytesInserted = 0; // F0 and F7 bytes the framing adds
};
CutCount CountCutMessages(const std::vector<std::uint8_t>& data, const ChunkRules& rules);

// With `chunks` on, a chunk that does not begin with F0 gets F0 in front and one that does not end
// with F7 gets F7 behind; with it off, the bytes go out as cut. An empty chunk stays empty.
std::vector<std::uint8_t> FrameChunk(const std::uint8_t* data, std::uint32_t length, bool chunks);

// A pause setting as milliseconds to sleep: a negative value would read as an unsigned sleep of
// weeks, so it counts as no pause.
std::uint32_t PauseMs(std::int32_t ms);

// The pauses a port keeps around each chunk it hands to the operating system.
struct ChunkPacing {
    std::int32_t delay = 200;        // after the chunk was handed over without error
    std::int32_t unprepDelay = 100;  // after the chunk's output buffer was released

    void AfterHandOver() const;
    void AfterRelease() const;
};
