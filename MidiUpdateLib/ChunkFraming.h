#pragma once
// How a port puts one chunk on the wire, written once for every port: the framing that makes each
// chunk a complete SysEx message, and the port's own pauses after it.

#include <cstdint>
#include <vector>

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
