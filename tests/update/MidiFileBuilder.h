#pragma once
// Writes Standard MIDI Files byte by byte in memory: tracks of events, chunks and headers.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using MidiBytes = std::vector<std::uint8_t>;

// A variable-length number: seven bits a byte, most significant first.
inline MidiBytes VarLen(std::uint32_t value) {
    MidiBytes bytes{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) bytes.insert(bytes.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return bytes;
}

// The events of one track; each takes its delta time in ticks.
class TrackBytes {
public:
    // Any bytes after the delta: a channel event, one with running status, or damage.
    TrackBytes& Event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        return Delta(delta).Raw(MidiBytes(bytes));
    }
    // F0 <length> data: the F0 the message starts with is implied.
    TrackBytes& SysEx(std::uint32_t delta, const MidiBytes& data) { return Delta(delta).Raw({0xF0}).Counted(data); }
    TrackBytes& Escape(std::uint32_t delta, const MidiBytes& data) { return Delta(delta).Raw({0xF7}).Counted(data); }
    TrackBytes& Meta(std::uint32_t delta, std::uint8_t type, const MidiBytes& data) {
        return Delta(delta).Raw({0xFF, type}).Counted(data);
    }
    TrackBytes& Tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
        return Meta(delta, 0x51,
                    {static_cast<std::uint8_t>(usPerQuarter >> 16),
                     static_cast<std::uint8_t>((usPerQuarter >> 8) & 0xFF),
                     static_cast<std::uint8_t>(usPerQuarter & 0xFF)});
    }
    TrackBytes& End(std::uint32_t delta = 0) { return Meta(delta, 0x2F, {}); }
    TrackBytes& Delta(std::uint32_t delta) { return Raw(VarLen(delta)); }
    TrackBytes& Raw(const MidiBytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }

    MidiBytes bytes;

private:
    TrackBytes& Counted(const MidiBytes& data) {
        return Raw(VarLen(static_cast<std::uint32_t>(data.size()))).Raw(data);
    }
};

inline void AppendU32(MidiBytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

inline void AppendU16(MidiBytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// A chunk: its four-letter kind, its length (the body's own unless one is given) and its body.
inline MidiBytes Chunk(const std::string& kind, const MidiBytes& body, std::int64_t length = -1) {
    MidiBytes out(kind.begin(), kind.end());
    AppendU32(out, static_cast<std::uint32_t>(length < 0 ? static_cast<std::int64_t>(body.size()) : length));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline MidiBytes HeaderChunk(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
    MidiBytes body;
    AppendU16(body, format);
    AppendU16(body, tracks);
    AppendU16(body, division);
    return Chunk("MThd", body);
}

// A whole file: its header names as many tracks as it holds.
inline MidiBytes MidiFile(std::uint16_t format, std::uint16_t division, const std::vector<TrackBytes>& tracks) {
    MidiBytes out = HeaderChunk(format, static_cast<std::uint16_t>(tracks.size()), division);
    for (const TrackBytes& track : tracks) {
        const MidiBytes chunk = Chunk("MTrk", track.bytes);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// An SMPTE division: minus the frames per second in the high byte, ticks per frame in the low.
inline std::uint16_t SmpteDivision(int frames, std::uint8_t ticksPerFrame) {
    return static_cast<std::uint16_t>(((256 - frames) << 8) | ticksPerFrame);
}

inline MidiBytes Concat(std::initializer_list<MidiBytes> parts) {
    MidiBytes out;
    for (const MidiBytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
