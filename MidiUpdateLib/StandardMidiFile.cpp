#include "StandardMidiFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "Log.h"
#include "Update.h"

namespace {

const char kTooLarge[] =
    "The file is too large: an update file or SysEx file holds at most 4294967295 bytes (4 GiB less one "
    "byte).";
const char kBadHeader[] = "MIDI file was invalid (bad header).";
const char kFormat2[] =
    "MIDI file is of format 2 (independent patterns), which has no single order to send its messages in.";
const char kUnknownFormat[] = "MIDI file is of an unknown format (%u).";
const char kFormat0Tracks[] = "MIDI file of format 0 must hold exactly one track, not %u.";
const char kDivisionZero[] = "MIDI file has a time division of 0.";
const char kSmpteRate[] = "MIDI file has an unknown SMPTE frame rate (%d).";
const char kChunkCut[] = "MIDI file was truncated (a chunk runs past the end of the file). Did it download correctly?";
const char kTracksMissing[] =
    "MIDI file was truncated (it holds %u of the %u tracks its header names). Did it download correctly?";
const char kTracksExtra[] = "MIDI file holds more tracks than its header names (%u).";
const char kEventCut[] = "MIDI file has an event that runs past the end of its track.";
const char kLongNumber[] = "MIDI file has a variable-length number longer than 4 bytes.";
const char kNoStatus[] = "MIDI file has a data byte where an event should start (no running status).";
const char kStatusInData[] = "MIDI file has a channel event cut short by a status byte.";
const char kUnknownEvent[] = "MIDI file has an event of unknown kind (status 0x%02X).";
const char kTempoLength[] = "MIDI file has a tempo event that is not 3 bytes long.";
const char kTempoZero[] = "MIDI file sets a tempo of 0.";
const char kSplitBroken[] = "MIDI file has a SysEx message split across events that another event breaks off.";
const char kSplitUnfinished[] = "MIDI file has a SysEx message split across events that its track never finishes.";
const char kTooManyEvents[] = "MIDI file holds more than %u events.";
const char kTimeOverflow[] = "MIDI file has events too late to count their time.";

constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 beats a minute
constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaEndOfTrack = 0x2F;

std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > std::numeric_limits<std::uint64_t>::max() - b) throw ParseError(kTimeOverflow);
    return a + b;
}

// a * num / den rounded down, exactly, without an intermediate product that could wrap: den and
// num are small (a division and a tempo), a is any count of ticks.
std::uint64_t CheckedMulDiv(std::uint64_t a, std::uint64_t num, std::uint64_t den) {
    const std::uint64_t whole = a / den;
    const std::uint64_t rest = a % den;
    if (num != 0 && whole > std::numeric_limits<std::uint64_t>::max() / num) throw ParseError(kTimeOverflow);
    return CheckedAdd(whole * num, rest * num / den);
}

// Reads within [at, end); every read is checked by the caller with Has first.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : at(data), end(data + size) {}
    std::size_t Left() const { return static_cast<std::size_t>(end - at); }
    bool Has(std::uint64_t count) const { return count <= Left(); }
    std::uint8_t Peek() const { return *at; }
    std::uint8_t Byte() { return *at++; }
    const std::uint8_t* Take(std::size_t count) {
        const std::uint8_t* start = at;
        at += count;
        return start;
    }
    std::uint16_t U16() {
        const std::uint16_t value = static_cast<std::uint16_t>((at[0] << 8) | at[1]);
        at += 2;
        return value;
    }
    std::uint32_t U32() {
        const std::uint32_t value = (static_cast<std::uint32_t>(at[0]) << 24) |
                                    (static_cast<std::uint32_t>(at[1]) << 16) |
                                    (static_cast<std::uint32_t>(at[2]) << 8) | static_cast<std::uint32_t>(at[3]);
        at += 4;
        return value;
    }

private:
    const std::uint8_t* at;
    const std::uint8_t* end;
};

// Seven bits a byte, most significant first, the high bit set on all but the last; at most 4 bytes.
std::uint32_t ReadNumber(Cursor& in) {
    std::uint32_t value = 0;
    for (int count = 0; count < 4; ++count) {
        if (!in.Has(1)) throw ParseError(kEventCut);
        const std::uint8_t byte = in.Byte();
        value = (value << 7) | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return value;
    }
    throw ParseError(kLongNumber);
}

struct TempoChange {
    std::uint64_t tick;
    std::uint32_t usPerQuarter;
};

// Everything the tracks hold, in file order, before times are known: each message's timeUs holds
// its tick until the tempo map is complete (converting in place keeps one copy of the messages).
struct TrackEvents {
    std::vector<TimedSysEx> messages;
    std::vector<TempoChange> tempos;
    std::uint64_t lastTick = 0;
    std::uint32_t events = 0;
};

void CountEvent(TrackEvents& events) {
    if (events.events == kMaxMidiFileEvents) throw ParseError(FormatString(kTooManyEvents, kMaxMidiFileEvents));
    ++events.events;
}

void ReadTrack(Cursor in, TrackEvents& events, MidiFileContent& content) {
    std::uint64_t tick = 0;
    std::uint8_t runningStatus = 0;  // 0: none in effect
    bool splitOpen = false;          // the last message is a SysEx message still waiting for its F7
    while (in.Left() > 0) {
        CountEvent(events);
        tick = CheckedAdd(tick, ReadNumber(in));
        events.lastTick = std::max(events.lastTick, tick);
        if (!in.Has(1)) throw ParseError(kEventCut);
        std::uint8_t status = in.Peek();
        if (status < 0x80) {
            if (runningStatus == 0) throw ParseError(kNoStatus);
            status = runningStatus;
        } else {
            in.Byte();
        }

        if (status < 0xF0) {
            // A channel event would break off a message on its way to the device.
            if (splitOpen) throw ParseError(kSplitBroken);
            runningStatus = status;
            const std::size_t dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            if (!in.Has(dataBytes)) throw ParseError(kEventCut);
            for (std::size_t i = 0; i < dataBytes; ++i)
                if (in.Byte() >= 0x80) throw ParseError(kStatusInData);
            ++content.channelEvents;
        } else if (status == kSysExStart || status == kSysExEnd) {
            runningStatus = 0;
            const std::uint32_t length = ReadNumber(in);
            if (!in.Has(length)) throw ParseError(kEventCut);
            const std::uint8_t* bytes = in.Take(length);
            const bool endsMessage = length > 0 && bytes[length - 1] == kSysExEnd;
            if (status == kSysExStart) {
                if (splitOpen) throw ParseError(kSplitBroken);
                // The file leaves out the F0 that starts the message.
                TimedSysEx message{{kSysExStart}, tick};
                message.bytes.insert(message.bytes.end(), bytes, bytes + length);
                events.messages.push_back(std::move(message));
                splitOpen = !endsMessage;
            } else if (splitOpen) {
                std::vector<std::uint8_t>& message = events.messages.back().bytes;
                message.insert(message.end(), bytes, bytes + length);
                splitOpen = !endsMessage;
            } else if (length > 0) {
                // An escape: bytes sent as they stand (real-time messages, a message of the
                // file's own making).
                events.messages.push_back({std::vector<std::uint8_t>(bytes, bytes + length), tick});
            }
        } else if (status == kMeta) {
            runningStatus = 0;
            if (!in.Has(1)) throw ParseError(kEventCut);
            const std::uint8_t type = in.Byte();
            const std::uint32_t length = ReadNumber(in);
            if (!in.Has(length)) throw ParseError(kEventCut);
            const std::uint8_t* bytes = in.Take(length);
            if (type == kMetaTempo) {
                if (length != 3) throw ParseError(kTempoLength);
                const std::uint32_t tempo = (static_cast<std::uint32_t>(bytes[0]) << 16) |
                                            (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
                if (tempo == 0) throw ParseError(kTempoZero);
                events.tempos.push_back({tick, tempo});
                ++content.tempoChanges;
            } else if (type == kMetaEndOfTrack) {
                break;  // whatever the chunk holds after it is not part of the track
            } else {
                ++content.metaEvents;
            }
        } else {
            throw ParseError(FormatString(kUnknownEvent, static_cast<unsigned>(status)));
        }
    }
    if (splitOpen) throw ParseError(kSplitUnfinished);
}

// Ticks to microseconds: under ticks per quarter note through the tempo map, which applies from
// its tick on to every track; under an SMPTE division at a fixed rate.
class Timeline {
public:
    Timeline(const MidiFileContent& content, std::vector<TempoChange> tempos) {
        if (content.smpteFrames != 0) {
            // 29 stands for 30 drop-frame, 29.97 frames a second: a frame lasts 1001000 / 30 us.
            usPerUnit = content.smpteFrames == 29 ? 1001000u : 1000000u;
            ticksPerUnit = std::uint64_t{content.smpteFrames == 29 ? 30u : content.smpteFrames} * content.ticksPerFrame;
            return;
        }
        ticksPerQuarter = content.ticksPerQuarter;
        // Equal ticks keep file order, track by track: the last one read applies.
        std::stable_sort(tempos.begin(), tempos.end(),
                         [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
        segments.push_back({0, kDefaultTempo, 0, 0});
        for (const TempoChange& change : tempos) {
            const Segment start = At(change.tick);
            segments.push_back({change.tick, change.usPerQuarter, start.startUs, start.remainder});
        }
    }

    std::uint64_t TimeUs(std::uint64_t tick) const {
        if (segments.empty()) return CheckedMulDiv(tick, usPerUnit, ticksPerUnit);
        return At(tick).startUs;
    }

private:
    // A time kept exactly: startUs plus remainder / ticksPerQuarter microseconds, so that a tempo
    // change rounds nothing that later times build on.
    struct Segment {
        std::uint64_t tick;
        std::uint32_t usPerQuarter;
        std::uint64_t startUs;
        std::uint64_t remainder;
    };

    // The time of a tick, as a segment starting there (its tempo is the one in effect).
    Segment At(std::uint64_t tick) const {
        const auto after = std::upper_bound(segments.begin(), segments.end(), tick,
                                            [](std::uint64_t t, const Segment& s) { return t < s.tick; });
        const Segment& from = *(after - 1);
        const std::uint64_t ticks = tick - from.tick;
        // The remainder and what is left of the ticks are below the division, the tempo below
        // 2^24: their sum cannot wrap.
        const std::uint64_t parts = from.remainder + (ticks % ticksPerQuarter) * from.usPerQuarter;
        const std::uint64_t wholeUs =
            CheckedMulDiv(ticks - ticks % ticksPerQuarter, from.usPerQuarter, ticksPerQuarter);
        return {tick, from.usPerQuarter, CheckedAdd(CheckedAdd(from.startUs, wholeUs), parts / ticksPerQuarter),
                parts % ticksPerQuarter};
    }

    std::vector<Segment> segments;  // empty under an SMPTE division
    std::uint64_t ticksPerQuarter = 1;
    std::uint64_t usPerUnit = 0;
    std::uint64_t ticksPerUnit = 1;
};

void ReadDivision(std::uint16_t division, MidiFileContent& content) {
    if ((division & 0x8000) == 0) {
        if (division == 0) throw ParseError(kDivisionZero);
        content.ticksPerQuarter = division;
        return;
    }
    // The high byte is minus the frames per second, the low byte the ticks per frame.
    const int frames = 256 - (division >> 8);
    if (frames != 24 && frames != 25 && frames != 29 && frames != 30)
        throw ParseError(FormatString(kSmpteRate, -frames));
    if ((division & 0xFF) == 0) throw ParseError(kDivisionZero);
    content.smpteFrames = static_cast<std::uint8_t>(frames);
    content.ticksPerFrame = static_cast<std::uint8_t>(division & 0xFF);
}

}  // namespace

bool LooksLikeStandardMidiFile(const std::uint8_t* data, std::size_t size) {
    return size >= 4 && std::memcmp(data, "MThd", 4) == 0;
}

SysExGaps MeasureSysExGaps(const std::vector<TimedSysEx>& messages) {
    SysExGaps gaps;
    for (std::size_t i = 1; i < messages.size(); ++i) {
        // The messages come in the order they go out, so no gap is negative.
        const std::uint64_t gap = messages[i].timeUs - messages[i - 1].timeUs;
        gaps.longestUs = std::max(gaps.longestUs, gap);
        gaps.shortestUs = i == 1 ? gap : std::min(gaps.shortestUs, gap);
    }
    return gaps;
}

MidiFileContent ReadStandardMidiFile(const std::uint8_t* data, std::size_t size) {
    if (!FitsUpdateSize(size)) throw ParseError(kTooLarge);
    if (!LooksLikeStandardMidiFile(data, size)) throw ParseError(kBadHeader);
    Cursor file(data, size);
    file.Take(4);
    if (!file.Has(4)) throw ParseError(kBadHeader);
    const std::uint32_t headerLength = file.U32();
    if (headerLength < 6) throw ParseError(kBadHeader);
    if (!file.Has(headerLength)) throw ParseError(kChunkCut);

    MidiFileContent content;
    content.format = file.U16();
    const std::uint16_t declaredTracks = file.U16();
    const std::uint16_t division = file.U16();
    file.Take(headerLength - 6);  // a longer header of a later version: its extra fields are not ours
    if (content.format == 2) throw ParseError(kFormat2);
    if (content.format > 2) throw ParseError(FormatString(kUnknownFormat, static_cast<unsigned>(content.format)));
    if (content.format == 0 && declaredTracks != 1)
        throw ParseError(FormatString(kFormat0Tracks, static_cast<unsigned>(declaredTracks)));
    ReadDivision(division, content);

    TrackEvents events;
    while (file.Left() > 0) {
        if (!file.Has(8)) throw ParseError(kChunkCut);
        const std::uint8_t* id = file.Take(4);
        const std::uint32_t length = file.U32();
        if (!file.Has(length)) throw ParseError(kChunkCut);
        const Cursor body(file.Take(length), length);
        if (std::memcmp(id, "MTrk", 4) != 0) {
            ++content.skippedChunks;  // a chunk of a kind this reader does not know is skipped whole
            continue;
        }
        if (content.tracks == declaredTracks)
            throw ParseError(FormatString(kTracksExtra, static_cast<unsigned>(declaredTracks)));
        ++content.tracks;
        ReadTrack(body, events, content);
    }
    if (content.tracks < declaredTracks)
        throw ParseError(FormatString(kTracksMissing, static_cast<unsigned>(content.tracks),
                                      static_cast<unsigned>(declaredTracks)));

    // Tracks were read one after the other: a stable sort by tick merges them with equal ticks
    // in file order, track by track.
    std::stable_sort(events.messages.begin(), events.messages.end(),
                     [](const TimedSysEx& a, const TimedSysEx& b) { return a.timeUs < b.timeUs; });
    const Timeline timeline(content, std::move(events.tempos));
    for (TimedSysEx& message : events.messages) message.timeUs = timeline.TimeUs(message.timeUs);
    content.messages = std::move(events.messages);
    content.durationUs = timeline.TimeUs(events.lastTick);
    return content;
}
