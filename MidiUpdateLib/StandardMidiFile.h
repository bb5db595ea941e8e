#pragma once
// Reads a Standard MIDI File (.mid) into the SysEx it carries, each message with the time it is due.

#include <cstddef>
#include <cstdint>
#include <vector>

// The most events a file may hold, every kind counted: far beyond any firmware, small enough that
// what a file holds always fits in memory.
constexpr std::uint32_t kMaxMidiFileEvents = 10000000;

// Bytes to send at a time after the start. A SysEx message is whole, F0 to F7, even when the
// file splits it across events (its time is then that of its first part); the bytes of an F7
// escape that continues nothing go out exactly as they stand.
struct TimedSysEx {
    std::vector<std::uint8_t> bytes;
    std::uint64_t timeUs = 0;
};

struct MidiFileContent {
    std::uint16_t format = 0;  // 0 or 1
    std::uint16_t tracks = 0;
    // The file's time division: ticks per quarter note, or SMPTE frames per second (24, 25, 29 for
    // 29.97 or 30) and ticks per frame; the fields of the other kind are 0.
    std::uint16_t ticksPerQuarter = 0;
    std::uint8_t smpteFrames = 0;
    std::uint8_t ticksPerFrame = 0;

    // In the order they go out: by time, and at equal times in file order, track by track.
    std::vector<TimedSysEx> messages;
    std::uint64_t durationUs = 0;  // the time of the last event of any track

    // What is read but not sent.
    std::uint32_t channelEvents = 0;
    std::uint32_t metaEvents = 0;     // other than tempo and end of track
    std::uint32_t tempoChanges = 0;   // Set Tempo events (without effect under an SMPTE division)
    std::uint32_t skippedChunks = 0;  // chunks other than tracks
};

// True when the bytes start as a Standard MIDI File does ("MThd").
bool LooksLikeStandardMidiFile(const std::uint8_t* data, std::size_t size);

// The widest and the narrowest gap between the times of consecutive messages: how the file spaces
// what it sends. Both 0 when there are fewer than two messages.
struct SysExGaps {
    std::uint64_t longestUs = 0;
    std::uint64_t shortestUs = 0;
};
SysExGaps MeasureSysExGaps(const std::vector<TimedSysEx>& messages);

// Reads a whole file. Completes or throws ParseError (Update.h) with the sentence for the user;
// nothing in the file can make it read out of bounds, give messages of more bytes than the file
// holds, or wrap a count or a time.
MidiFileContent ReadStandardMidiFile(const std::uint8_t* data, std::size_t size);
