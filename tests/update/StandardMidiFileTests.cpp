// The Standard MIDI File reader: merged order, tempo map, SMPTE time, split SysEx, running status
// and every damaged file it refuses.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "MidiFileBuilder.h"
#include "StandardMidiFile.h"
#include "Update.h"

namespace {

constexpr std::uint8_t kEnd = 0xF7;

struct Sent {
    MidiBytes bytes;
    std::uint64_t timeUs;
};

bool operator==(const Sent& a, const Sent& b) { return a.bytes == b.bytes && a.timeUs == b.timeUs; }

void PrintTo(const Sent& sent, std::ostream* os) {
    *os << "{";
    for (std::uint8_t byte : sent.bytes) *os << " " << std::hex << static_cast<unsigned>(byte) << std::dec;
    *os << " @" << sent.timeUs << "}";
}

struct ContentCase {
    const char* name;
    MidiBytes file;
    std::vector<Sent> sent;
    std::uint64_t durationUs;
    std::uint32_t channelEvents;
    std::uint32_t metaEvents;
};

void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const testing::TestParamInfo<ContentCase>& info) { return info.param.name; }

MidiFileContent Read(const MidiBytes& file) { return ReadStandardMidiFile(file.data(), file.size()); }

void ExpectContent(const ContentCase& c) {
    const MidiFileContent content = Read(c.file);
    std::vector<Sent> sent;
    for (const TimedSysEx& message : content.messages) sent.push_back({message.bytes, message.timeUs});
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(content.durationUs, c.durationUs);
    EXPECT_EQ(content.channelEvents, c.channelEvents);
    EXPECT_EQ(content.metaEvents, c.metaEvents);
}

// At 96 ticks per quarter note and the default 120 beats a minute a tick is 5208.33 us.
std::vector<ContentCase> MergeCases() {
    return {
        {"FormatZero",
         MidiFile(0, 96,
                  {TrackBytes()
                       .Event(0, {0x90, 0x3C, 0x40})
                       .SysEx(0, {0x01, kEnd})
                       .Event(96, {0x80, 0x3C, 0x00})
                       .SysEx(0, {0x02, kEnd})
                       .Meta(0, 0x03, {'a'})
                       .End(96)}),
         {{{0xF0, 0x01, kEnd}, 0}, {{0xF0, 0x02, kEnd}, 500000}},
         1000000, 2, 1},
        {"FormatOneInterleaved",
         MidiFile(1, 96,
                  {TrackBytes().SysEx(0, {0x0A, kEnd}).SysEx(192, {0x0B, kEnd}).End(),
                   TrackBytes().SysEx(96, {0x0C, kEnd}).SysEx(96, {0x0D, kEnd}).End(100)}),
         {{{0xF0, 0x0A, kEnd}, 0},
          {{0xF0, 0x0C, kEnd}, 500000},
          {{0xF0, 0x0B, kEnd}, 1000000},
          {{0xF0, 0x0D, kEnd}, 1000000}},
         1520833, 0, 0},
        // Equal times go in file order, track by track; tracks need not end with End of Track.
        {"EqualTimesTrackByTrack",
         MidiFile(1, 96,
                  {TrackBytes().SysEx(5, {0x01, kEnd}).SysEx(0, {0x02, kEnd}),
                   TrackBytes().SysEx(0, {0x03, kEnd}).SysEx(5, {0x04, kEnd}),
                   TrackBytes().SysEx(5, {0x05, kEnd})}),
         {{{0xF0, 0x03, kEnd}, 0},
          {{0xF0, 0x01, kEnd}, 26041},
          {{0xF0, 0x02, kEnd}, 26041},
          {{0xF0, 0x04, kEnd}, 26041},
          {{0xF0, 0x05, kEnd}, 26041}},
         26041, 0, 0},
        {"NoTracks", MidiFile(1, 96, {}), {}, 0, 0, 0},
        // Chunks of other kinds are skipped whole, wherever they stand.
        {"UnknownChunksSkipped",
         Concat({HeaderChunk(1, 2, 96), Chunk("XFIH", {0x4D, 0x54, 0x72, 0x6B}),
                 Chunk("MTrk", TrackBytes().SysEx(0, {0x01, kEnd}).bytes), Chunk("abcd", {}),
                 Chunk("MTrk", TrackBytes().SysEx(1, {0x02, kEnd}).bytes)}),
         {{{0xF0, 0x01, kEnd}, 0}, {{0xF0, 0x02, kEnd}, 5208}},
         5208, 0, 0},
    };
}

class MergedOrder : public testing::TestWithParam<ContentCase> {};
TEST_P(MergedOrder, SendsSysExInTimeOrder) { ExpectContent(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Files, MergedOrder, testing::ValuesIn(MergeCases()), CaseName);

std::vector<ContentCase> TempoCases() {
    return {
        // 480 ticks a quarter: 500000 us until tick 960 (1 s), then 250000 us a quarter.
        {"ChangeMidFile",
         MidiFile(0, 480,
                  {TrackBytes()
                       .Tempo(0, 500000)
                       .SysEx(480, {0x01, kEnd})
                       .Tempo(480, 250000)
                       .SysEx(240, {0x02, kEnd})
                       .End(240)}),
         {{{0xF0, 0x01, kEnd}, 500000}, {{0xF0, 0x02, kEnd}, 1125000}},
         1250000, 0, 0},
        // A tempo in one track applies to every track from its tick on.
        {"FromAnotherTrack",
         MidiFile(1, 96, {TrackBytes().Tempo(96, 1000000).End(), TrackBytes().SysEx(192, {0x01, kEnd}).End()}),
         {{{0xF0, 0x01, kEnd}, 1500000}},
         1500000, 0, 0},
        {"LaterOfTwoAtOneTickApplies",
         MidiFile(1, 96,
                  {TrackBytes().Tempo(96, 250000).Tempo(0, 2000000),
                   TrackBytes().Tempo(96, 1000000).SysEx(96, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 1500000}},
         1500000, 0, 0},
        // A third of a second at a time: 1/3 + 1/3 + (2/3 of a half second) is exactly 1 s, which
        // rounding each change's start down would make 999999 us.
        {"ChangeBetweenWholeMicroseconds",
         MidiFile(0, 3,
                  {TrackBytes()
                       .Tempo(0, 1000000)
                       .SysEx(1, {0x01, kEnd})
                       .Tempo(1, 500000)
                       .SysEx(2, {0x02, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 333333}, {{0xF0, 0x02, kEnd}, 1000000}},
         1000000, 0, 0},
    };
}

class TempoMap : public testing::TestWithParam<ContentCase> {};
TEST_P(TempoMap, TimesFollowTheTempoInEffect) { ExpectContent(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Files, TempoMap, testing::ValuesIn(TempoCases()), CaseName);

std::vector<ContentCase> SmpteCases() {
    return {
        {"TwentyFourFrames", MidiFile(0, SmpteDivision(24, 4), {TrackBytes().SysEx(48, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 500000}}, 500000, 0, 0},
        // 25 frames of 40 ticks: a tick is a millisecond.
        {"TwentyFiveFramesMilliseconds", MidiFile(0, SmpteDivision(25, 40), {TrackBytes().SysEx(1234, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 1234000}}, 1234000, 0, 0},
        // 29.97 frames a second: a frame lasts 1001000 / 30 us.
        {"DropFrame", MidiFile(0, SmpteDivision(29, 1), {TrackBytes().SysEx(1, {0x01, kEnd}).SysEx(29, {0x02, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 33366}, {{0xF0, 0x02, kEnd}, 1001000}}, 1001000, 0, 0},
        {"ThirtyFrames", MidiFile(0, SmpteDivision(30, 10), {TrackBytes().SysEx(7, {0x01, kEnd}).End(293)}),
         {{{0xF0, 0x01, kEnd}, 23333}}, 1000000, 0, 0},
        {"TempoHasNoEffect",
         MidiFile(0, SmpteDivision(25, 40), {TrackBytes().Tempo(0, 250000).SysEx(1000, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 1000000}}, 1000000, 0, 0},
    };
}

class SmpteTime : public testing::TestWithParam<ContentCase> {};
TEST_P(SmpteTime, TicksAreFractionsOfFrames) { ExpectContent(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Files, SmpteTime, testing::ValuesIn(SmpteCases()), CaseName);

TEST(SmpteTime, DivisionIsReported) {
    const MidiFileContent content = Read(MidiFile(0, SmpteDivision(29, 80), {TrackBytes()}));
    EXPECT_EQ(content.smpteFrames, 29);
    EXPECT_EQ(content.ticksPerFrame, 80);
    EXPECT_EQ(content.ticksPerQuarter, 0);
    const MidiFileContent quarters = Read(MidiFile(1, 0x7FFF, {TrackBytes(), TrackBytes()}));
    EXPECT_EQ(quarters.ticksPerQuarter, 0x7FFF);
    EXPECT_EQ(quarters.smpteFrames, 0);
    EXPECT_EQ(quarters.format, 1);
    EXPECT_EQ(quarters.tracks, 2);
}

std::vector<ContentCase> SplitCases() {
    return {
        {"Continued", MidiFile(0, 96, {TrackBytes().SysEx(0, {0x01, 0x02, 0x03}).Escape(10, {0x04, kEnd})}),
         {{{0xF0, 0x01, 0x02, 0x03, 0x04, kEnd}, 0}}, 52083, 0, 0},
        {"InThreeParts",
         MidiFile(0, 96, {TrackBytes().SysEx(0, {0x01}).Escape(0, {0x02}).Escape(0, {0x03, kEnd})}),
         {{{0xF0, 0x01, 0x02, 0x03, kEnd}, 0}}, 0, 0, 0},
        {"EmptyFirstPart", MidiFile(0, 96, {TrackBytes().SysEx(0, {}).Escape(0, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 0}}, 0, 0, 0},
        // Meta events do not go on the wire, so they may stand between the parts.
        {"MetaBetweenParts",
         MidiFile(0, 96, {TrackBytes().SysEx(0, {0x01}).Meta(0, 0x01, {'x'}).Escape(0, {kEnd})}),
         {{{0xF0, 0x01, kEnd}, 0}}, 0, 0, 1},
        // Without a message to continue, an escape's bytes go out as they stand.
        {"RawEscapes",
         MidiFile(0, 96,
                  {TrackBytes().Escape(0, {0xF8}).SysEx(0, {0x01, kEnd}).Escape(96, {0xF0, 0x05, kEnd}).Escape(0, {})}),
         {{{0xF8}, 0}, {{0xF0, 0x01, kEnd}, 0}, {{0xF0, 0x05, kEnd}, 500000}}, 500000, 0, 0},
        // A split message keeps the place of its first part among the other tracks' messages.
        {"SplitMessageInTheMerge",
         MidiFile(1, 96,
                  {TrackBytes().SysEx(0, {0x01}).Escape(100, {0x02, kEnd}), TrackBytes().SysEx(50, {0x09, kEnd})}),
         {{{0xF0, 0x01, 0x02, kEnd}, 0}, {{0xF0, 0x09, kEnd}, 260416}}, 520833, 0, 0},
    };
}

class SplitSysEx : public testing::TestWithParam<ContentCase> {};
TEST_P(SplitSysEx, PartsJoinAndEscapesStand) { ExpectContent(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Files, SplitSysEx, testing::ValuesIn(SplitCases()), CaseName);

std::vector<ContentCase> RunningStatusCases() {
    return {
        {"AroundSysEx",
         MidiFile(0, 96,
                  {TrackBytes()
                       .Event(0, {0x90, 0x3C, 0x40})
                       .Event(0, {0x3C, 0x00})
                       .SysEx(0, {0x01, kEnd})
                       .Event(0, {0x90, 0x40, 0x40})
                       .Event(96, {0x40, 0x00})
                       .SysEx(0, {0x02, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 0}, {{0xF0, 0x02, kEnd}, 500000}}, 500000, 4, 0},
        // Program change and channel pressure carry one data byte, the others two.
        {"OneDataByteEvents",
         MidiFile(0, 96,
                  {TrackBytes()
                       .Event(0, {0xC0, 0x05})
                       .Event(0, {0x06})
                       .SysEx(0, {0x01, kEnd})
                       .Event(0, {0xD3, 0x10})
                       .Event(0, {0x11})
                       .Event(0, {0xE0, 0x00, 0x40})
                       .Event(0, {0x7F, 0x7F})
                       .SysEx(0, {0x02, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 0}, {{0xF0, 0x02, kEnd}, 0}}, 0, 6, 0},
        {"AroundMeta",
         MidiFile(0, 96,
                  {TrackBytes()
                       .Event(0, {0xB0, 0x07, 0x64})
                       .Meta(0, 0x06, {'m'})
                       .Event(0, {0xB0, 0x07, 0x65})
                       .Event(0, {0x0A, 0x40})
                       .SysEx(0, {0x01, kEnd})}),
         {{{0xF0, 0x01, kEnd}, 0}}, 0, 3, 1},
        // Every track starts without running status: the second states its own.
        {"EachTrackStartsAfresh",
         MidiFile(1, 96,
                  {TrackBytes().Event(0, {0x90, 0x3C, 0x40}),
                   TrackBytes().Event(0, {0x91, 0x3C, 0x40}).Event(0, {0x3E, 0x40})}),
         {}, 0, 3, 0},
    };
}

class RunningStatus : public testing::TestWithParam<ContentCase> {};
TEST_P(RunningStatus, ChannelEventsAreCountedAndLeftOut) { ExpectContent(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Files, RunningStatus, testing::ValuesIn(RunningStatusCases()), CaseName);

const char kBadHeader[] = "MIDI file was invalid (bad header).";
const char kChunkCut[] = "MIDI file was truncated (a chunk runs past the end of the file). Did it download correctly?";
const char kEventCut[] = "MIDI file has an event that runs past the end of its track.";
const char kLongNumber[] = "MIDI file has a variable-length number longer than 4 bytes.";
const char kNoStatus[] = "MIDI file has a data byte where an event should start (no running status).";
const char kDivisionZero[] = "MIDI file has a time division of 0.";
const char kSplitBroken[] = "MIDI file has a SysEx message split across events that another event breaks off.";

struct DamageCase {
    const char* name;
    MidiBytes file;
    std::string sentence;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

MidiBytes OneTrack(const TrackBytes& track) { return MidiFile(0, 96, {track}); }

// Many events of the longest delta at the slowest tempo and one tick a quarter: their time passes
// what 64 bits of microseconds hold (2^64 us / (2^24 - 1) us a tick is about 4096 deltas of 2^28).
MidiBytes TooLateFile() {
    TrackBytes track;
    track.Tempo(0, 0xFFFFFF).Event(0, {0xC0, 0x00});
    for (int i = 0; i < 4100; ++i) track.Event(0x0FFFFFFF, {0x00});
    return MidiFile(0, 1, {track});
}

std::vector<DamageCase> DamageCases() {
    return {
        {"Empty", {}, kBadHeader},
        {"NotMidi", {'M', 'T', 'r', 'k', 0, 0, 0, 0}, kBadHeader},
        {"HeaderLengthCut", {'M', 'T', 'h', 'd', 0, 0}, kBadHeader},
        {"HeaderTooShort", Chunk("MThd", {0, 0, 0, 1, 0}), kBadHeader},
        {"HeaderPastEnd", Chunk("MThd", {0, 0, 0, 1, 0, 96}, 7), kChunkCut},
        {"TrackLengthPastEnd",
         Concat({HeaderChunk(0, 1, 96), Chunk("MTrk", TrackBytes().SysEx(0, {0x01, kEnd}).bytes, 100)}), kChunkCut},
        {"TrackLengthFarPastEnd", Concat({HeaderChunk(0, 1, 96), Chunk("MTrk", {0x00}, 0xFFFFFFFF)}), kChunkCut},
        {"ChunkHeaderCut", Concat({OneTrack(TrackBytes().End()), {'M', 'T', 'r'}}), kChunkCut},
        {"FewerTracks", Concat({HeaderChunk(1, 3, 96), Chunk("MTrk", {}), Chunk("MTrk", {})}),
         "MIDI file was truncated (it holds 2 of the 3 tracks its header names). Did it download correctly?"},
        {"MoreTracks", Concat({HeaderChunk(1, 1, 96), Chunk("MTrk", {}), Chunk("MTrk", {})}),
         "MIDI file holds more tracks than its header names (1)."},
        {"FormatTwo", MidiFile(2, 96, {TrackBytes()}),
         "MIDI file is of format 2 (independent patterns), which has no single order to send its messages in."},
        {"FormatThree", MidiFile(3, 96, {TrackBytes()}), "MIDI file is of an unknown format (3)."},
        {"FormatZeroTwoTracks", MidiFile(0, 96, {TrackBytes(), TrackBytes()}),
         "MIDI file of format 0 must hold exactly one track, not 2."},
        {"DivisionZero", MidiFile(0, 0, {TrackBytes()}), kDivisionZero},
        {"SmpteZeroTicksPerFrame", MidiFile(0, SmpteDivision(25, 0), {TrackBytes()}), kDivisionZero},
        {"SmpteUnknownRate", MidiFile(0, SmpteDivision(23, 4), {TrackBytes()}),
         "MIDI file has an unknown SMPTE frame rate (-23)."},
        {"EventPastTrack", OneTrack(TrackBytes().SysEx(0, {0x01, kEnd}).Event(0, {0x90, 0x3C})), kEventCut},
        {"DeltaCut", OneTrack(TrackBytes().Raw({0x81})), kEventCut},
        {"LengthFarPastTrack", OneTrack(TrackBytes().Raw({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01})), kEventCut},
        {"MetaLengthPastTrack", OneTrack(TrackBytes().Raw({0x00, 0xFF, 0x01, 0x09, 'a'})), kEventCut},
        {"LongDelta", OneTrack(TrackBytes().Raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40})), kLongNumber},
        {"LongLength", OneTrack(TrackBytes().Raw({0x00, 0xF0, 0x80, 0x80, 0x80, 0x80, 0x01, 0x01})), kLongNumber},
        {"TempoZero", OneTrack(TrackBytes().Tempo(0, 0)), "MIDI file sets a tempo of 0."},
        {"TempoTwoBytes", OneTrack(TrackBytes().Meta(0, 0x51, {0x07, 0xA1})),
         "MIDI file has a tempo event that is not 3 bytes long."},
        {"SplitUnfinished", OneTrack(TrackBytes().SysEx(0, {0x01}).Escape(0, {0x02}).End()),
         "MIDI file has a SysEx message split across events that its track never finishes."},
        {"SplitBrokenByChannelEvent", OneTrack(TrackBytes().SysEx(0, {0x01}).Event(0, {0x90, 0x3C, 0x40})),
         kSplitBroken},
        {"SplitBrokenBySysEx", OneTrack(TrackBytes().SysEx(0, {0x01}).SysEx(0, {0x02, kEnd})), kSplitBroken},
        {"DataByteFirst", OneTrack(TrackBytes().Event(0, {0x3C, 0x40})), kNoStatus},
        {"RunningStatusAfterSysEx",
         OneTrack(TrackBytes().Event(0, {0x90, 0x3C, 0x40}).SysEx(0, {kEnd}).Event(0, {0x3C, 0x00})), kNoStatus},
        {"RunningStatusAfterMeta",
         OneTrack(TrackBytes().Event(0, {0x90, 0x3C, 0x40}).Meta(0, 0x01, {}).Event(0, {0x3C, 0x00})), kNoStatus},
        {"RunningStatusAcrossTracks",
         MidiFile(1, 96, {TrackBytes().Event(0, {0x90, 0x3C, 0x40}), TrackBytes().Event(0, {0x3C, 0x00})}), kNoStatus},
        {"StatusInChannelData", OneTrack(TrackBytes().Event(0, {0x90, 0x3C, 0x90, 0x3C, 0x40})),
         "MIDI file has a channel event cut short by a status byte."},
        {"SystemCommonStatus", OneTrack(TrackBytes().Event(0, {0xF2, 0x00, 0x00})),
         "MIDI file has an event of unknown kind (status 0xF2)."},
        {"TimesTooLate", TooLateFile(), "MIDI file has events too late to count their time."},
    };
}

class DamagedMidiFile : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedMidiFile, IsRefusedWithItsSentence) {
    std::string outcome = "<loaded>";
    try {
        Read(GetParam().file);
    } catch (const ParseError& error) {
        outcome = error.what();
    }
    EXPECT_EQ(outcome, GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedMidiFile, testing::ValuesIn(DamageCases()),
                         [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// Just below the overflow the same kind of file loads, its last time exact.
TEST(DamagedMidiFile, TimesJustBelowTheLimitLoad) {
    TrackBytes track;
    track.Tempo(0, 0xFFFFFF).SysEx(0, {kEnd});
    for (int i = 0; i < 4000; ++i) track.Event(0x0FFFFFFF, {0xF7, 0x01, 0xF8});
    const MidiFileContent content = Read(MidiFile(0, 1, {track}));
    ASSERT_EQ(content.messages.size(), 4001u);
    EXPECT_EQ(content.messages.back().timeUs, std::uint64_t{4000} * 0x0FFFFFFF * 0xFFFFFF);
    EXPECT_EQ(content.durationUs, content.messages.back().timeUs);
}

// Two bytes an event (a delta of 0 and a data byte under running status) make the cap reachable.
MidiBytes ManyEvents(std::uint32_t count) {
    TrackBytes track;
    track.Event(0, {0xC0, 0x00});
    track.bytes.resize(track.bytes.size() + 2 * std::size_t{count - 1}, 0x00);
    return MidiFile(0, 96, {track});
}

TEST(DamagedMidiFile, EventCountIsCapped) {
    EXPECT_EQ(Read(ManyEvents(kMaxMidiFileEvents)).channelEvents, kMaxMidiFileEvents);
    try {
        Read(ManyEvents(kMaxMidiFileEvents + 1));
        FAIL() << "loaded a file over the cap";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "MIDI file holds more than 10000000 events.");
    }
}

// Refused by its size before a byte is read: the bytes here would otherwise fail as a bad header.
TEST(DamagedMidiFile, TooLargeIsRefusedFirst) {
    if constexpr (sizeof(std::size_t) <= 4) {
        GTEST_SKIP() << "a size over 4 GiB cannot be passed";
    } else {
        const MidiBytes start = {'M', 'T', 'h', 'd', 0, 0, 0, 5};
        const std::uint64_t size = kMaxUpdateFileSize + 1;
        try {
            ReadStandardMidiFile(start.data(), static_cast<std::size_t>(size));
            FAIL() << "read a file over 4 GiB";
        } catch (const ParseError& error) {
            EXPECT_STREQ(error.what(),
                         "The file is too large: an update file or SysEx file holds at most 4294967295 bytes (4 GiB "
                         "less one byte).");
        }
    }
}

// As an update: the programs that read MIDI files get one timed portion of the same bytes, sent to
// any maker's port; the window's readers still refuse the file.
std::string LoadOutcome(const MidiBytes& file, UpdateReaders readers, Update* loaded = nullptr) {
    std::istringstream stream(std::string(file.begin(), file.end()), std::ios::binary);
    try {
        Update update(stream, readers);
        if (loaded) *loaded = std::move(update);
        return "<loaded>";
    } catch (const ParseError& error) {
        return error.what();
    }
}

TEST(MidiFileUpdate, IsOneTimedPortionOfRawSysEx) {
    const MidiBytes file = MidiFile(1, 96,
                                    {TrackBytes().SysEx(0, {0x41, kEnd}).End(96),
                                     TrackBytes().Event(48, {0x90, 0x3C, 0x40}).SysEx(0, {0x42, 0x01, kEnd}).End()});
    Update update;
    ASSERT_EQ(LoadOutcome(file, UpdateReaders::WithMidiFile, &update), "<loaded>");
    EXPECT_TRUE(update.isMidiFile);
    EXPECT_TRUE(update.isRawSysEx);
    EXPECT_EQ(update.productName, "<SysEx Update Device>");
    EXPECT_TRUE(update.winPort.wholeMessages);
    EXPECT_FALSE(update.winPort.chunks);
    EXPECT_EQ(update.winPort.delay, 0);
    EXPECT_EQ(update.winPort.unprepDelay, 0);
    ASSERT_EQ(update.portions.size(), 1u);
    const SysExPortion& portion = update.portions[0];
    EXPECT_EQ(portion.data, (MidiBytes{0xF0, 0x41, kEnd, 0xF0, 0x42, 0x01, kEnd}));
    ASSERT_EQ(portion.timing.size(), 2u);
    EXPECT_EQ(portion.timing[0].offset, 0u);
    EXPECT_EQ(portion.timing[0].timeUs, 0u);
    EXPECT_EQ(portion.timing[1].offset, 3u);
    EXPECT_EQ(portion.timing[1].timeUs, 250000u);
    EXPECT_EQ(portion.endUs, 500000u);

    EXPECT_EQ(LoadOutcome(file, UpdateReaders::UpdateAndSysEx), "Update file was invalid (bad header).");
}

TEST(MidiFileUpdate, WithoutSysExIsRefused) {
    EXPECT_EQ(LoadOutcome(MidiFile(0, 96, {TrackBytes().Event(0, {0x90, 0x3C, 0x40}).End(96)}),
                          UpdateReaders::WithMidiFile),
              "MIDI file holds no SysEx messages: there is nothing in it to send.");
}

}  // namespace
