#include <gtest/gtest.h>

#include "ChunkFraming.h"
#include "ScriptedPort.h"
#include "SysExSender.h"
#include "TestSupport.h"

namespace {

std::vector<std::uint32_t> ChunkLengths(const ScriptedPort& port) {
    std::vector<std::uint32_t> lengths;
    for (const SentChunk& chunk : port.sends) lengths.push_back(static_cast<std::uint32_t>(chunk.bytes.size()));
    return lengths;
}

// Cuts the whole of `data` with FindChunkEnd alone.
std::vector<std::uint32_t> Cut(const Bytes& data, std::uint32_t ideal, std::uint32_t max) {
    std::vector<std::uint32_t> lengths;
    const std::uint8_t* cursor = data.data();
    const std::uint8_t* end = cursor + data.size();
    while (cursor != end) {
        const std::uint8_t* chunkEnd = FindChunkEnd(cursor, end, ideal, max);
        if (chunkEnd <= cursor || chunkEnd > end) {
            ADD_FAILURE() << "chunk does not advance within the data";
            break;
        }
        lengths.push_back(static_cast<std::uint32_t>(chunkEnd - cursor));
        cursor = chunkEnd;
    }
    return lengths;
}

// 5000 bytes of one long message body with F7 at 1500, 2600 and 4999, no line feeds.
Bytes WorkedExample() {
    Bytes data(5000, 0x11);
    data[0] = 0xF0;
    data[1500] = 0xF7;
    data[2600] = 0xF7;
    data[4999] = 0xF7;
    return data;
}

class SendChunkedTest : public ::testing::Test {
protected:
    SimulatedClock clock{1000};
    ScopedClock useClock{clock};
    ScriptedPort port;
    RecordingProgress progress;

    void Send(Bytes data) {
        SysExPortion portion;
        portion.data = std::move(data);
        SysExSender::SendChunked(portion, port, progress);  // true in every case: nothing to check
    }
};

}  // namespace

TEST_F(SendChunkedTest, WorkedExampleCutsAtMessageEndsAndRestsByLength) {
    LogCapture log;
    const Bytes data = WorkedExample();
    Send(data);

    EXPECT_EQ(ChunkLengths(port), (std::vector<std::uint32_t>{1501, 1100, 2399}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{366, 268, 585}));
    ASSERT_EQ(port.sends.size(), 3u);
    EXPECT_EQ(port.sends[0].atMs, 1000u);
    EXPECT_EQ(port.sends[1].atMs, 1366u);
    EXPECT_EQ(port.sends[2].atMs, 1634u);
    EXPECT_EQ(clock.NowMs(), 2219u);
    Bytes rejoined;
    for (const SentChunk& chunk : port.sends) rejoined.insert(rejoined.end(), chunk.bytes.begin(), chunk.bytes.end());
    EXPECT_EQ(rejoined, data);

    ASSERT_EQ(progress.events.size(), 8u);
    EXPECT_EQ(progress.events[0].kind, ProgressEvent::Indeterminate);
    EXPECT_EQ(progress.events[1].text, "Sent 1.5KB of 4.9KB");
    EXPECT_EQ(progress.events[2].kind, ProgressEvent::Progress);
    EXPECT_EQ(progress.events[2].value, 1501.0f / 5000.0f);  // fraction sent before the chunk
    EXPECT_EQ(progress.events[3].text, "Sent 2.5KB of 4.9KB");
    EXPECT_EQ(progress.events[4].value, 2601.0f / 5000.0f);
    EXPECT_EQ(progress.events[5].text, "Sent 4.9KB of 4.9KB");
    EXPECT_EQ(progress.events[6].kind, ProgressEvent::Progress);
    EXPECT_EQ(progress.events[6].value, 1.0f);
    EXPECT_EQ(progress.events[7].text, "Sent 4.9KB of 4.9KB");

    EXPECT_EQ(log.Count("SysExSender::SendChunked(portion,port,progress)\n"), 1u);
    EXPECT_TRUE(log.Contains("Wait for 0.366455 seconds")) << log.Text();
    EXPECT_EQ(log.Count("Wait for "), 3u);
}

TEST_F(SendChunkedTest, ShortPortionGoesOutAsOneChunkWithOneRest) {
    Send(Bytes(100, 0x22));
    EXPECT_EQ(ChunkLengths(port), (std::vector<std::uint32_t>{100}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{24}));  // 100/4096 s, truncated
    EXPECT_EQ(progress.Trace(), (std::vector<std::string>{"I", "S:Sent 100 bytes of 100 bytes", "P1",
                                                          "S:Sent 100 bytes of 100 bytes"}));
}

TEST_F(SendChunkedTest, EmptyPortionSendsNothingAndDoesNotRest) {
    Send({});
    EXPECT_TRUE(port.sends.empty());
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(progress.Trace(), (std::vector<std::string>{"P1", "S:Sent 0 bytes of 0 bytes"}));
}

// Only 0 is replaced; a negative ideal reads as a huge unsigned size: one chunk per portion.
TEST_F(SendChunkedTest, IdealIsReadAsUnsignedAndOnlyZeroFallsBack) {
    const struct {
        std::int32_t ideal;
        std::vector<std::uint32_t> chunks;
    } cases[] = {
        {0, {kFallbackIdealChunkSize, kFallbackIdealChunkSize, 452}},
        {-1, {2500}},
        {-4096, {2500}},
        {1000, {1000, 1000, 500}},
    };
    for (const auto& c : cases) {
        ScriptedPort badPort;
        badPort.ideal = c.ideal;
        badPort.max = 3072;
        SysExPortion portion;
        portion.data = Bytes(2500, 0xF7);  // every byte ends a message: chunks stay at ideal
        SysExSender::SendChunked(portion, badPort, progress);
        EXPECT_EQ(ChunkLengths(badPort), c.chunks) << "ideal " << c.ideal;
    }
}

TEST(FindChunkEnd, CutsTheWorkedExampleAtEachMessageEnd) {
    EXPECT_EQ(Cut(WorkedExample(), 1024, 3072), (std::vector<std::uint32_t>{1501, 1100, 2399}));
}

TEST(FindChunkEnd, WithoutMessageEndsEveryChunkButTheLastIsMax) {
    EXPECT_EQ(Cut(Bytes(10000, 0x11), 1024, 3072), (std::vector<std::uint32_t>{3072, 3072, 3072, 784}));
}

TEST(FindChunkEnd, IdealNotBelowMaxGivesChunksOfExactlyIdeal) {
    Bytes data(7000, 0x11);
    data[100] = 0xF7;   // message ends before and after the ideal length change nothing
    data[3500] = 0xF7;
    EXPECT_EQ(Cut(data, 3072, 1024), (std::vector<std::uint32_t>{3072, 3072, 856}));
    EXPECT_EQ(Cut(Bytes(5000, 0x11), 2048, 2048), (std::vector<std::uint32_t>{2048, 2048, 904}));
}

TEST(FindChunkEnd, LineFeedJustBeforeIdealEndsTheChunkMidMessage) {
    Bytes data(3000, 0x11);
    data[0] = 0xF0;
    data[1023] = 0x0A;
    data[2999] = 0xF7;
    EXPECT_EQ(Cut(data, 1024, 3072), (std::vector<std::uint32_t>{1024, 1976}));
}

TEST(FindChunkEnd, EndMarksBeforeTheIdealLengthAreIgnored) {
    Bytes data(4000, 0x11);
    data[10] = 0xF7;
    data[500] = 0x0A;
    data[1022] = 0xF7;  // the last byte of a chunk shorter than ideal
    data[1999] = 0xF7;
    EXPECT_EQ(Cut(data, 1024, 3072), (std::vector<std::uint32_t>{2000, 2000}));
}

TEST(FindChunkEnd, ChunkStopsAtMaxAndAtTheEndOfData) {
    Bytes data(4000, 0x11);
    data[3072] = 0xF7;  // would need 3073 bytes: one too many
    EXPECT_EQ(Cut(data, 1024, 3072), (std::vector<std::uint32_t>{3072, 928}));
    EXPECT_EQ(Cut(Bytes(1500, 0x11), 1024, 3072), (std::vector<std::uint32_t>{1500}));
    EXPECT_EQ(Cut(Bytes(1023, 0x11), 1024, 3072), (std::vector<std::uint32_t>{1023}));
    EXPECT_EQ(Cut(Bytes(1024, 0x11), 1024, 3072), (std::vector<std::uint32_t>{1024}));
}

TEST(FindChunkEnd, IdealOfZeroNeverCutsAnEmptyChunk) {
    EXPECT_EQ(Cut(Bytes(2100, 0xF7), 0, 3072), (std::vector<std::uint32_t>{1024, 1024, 52}));
}

// A message of 1100 bytes with a line feed at 1050, a message of 4104 bytes (longer than max),
// and three messages of 10 bytes: 5234 bytes.
Bytes MixedFirmware() {
    Bytes data;
    const auto message = [&](std::size_t length, std::size_t lineFeedAt) {
        const std::size_t from = data.size();
        data.push_back(0xF0);
        for (std::size_t i = 1; i + 1 < length; ++i) data.push_back(static_cast<std::uint8_t>(0x10 + i % 0x60));
        data.push_back(0xF7);
        if (lineFeedAt != 0) data[from + lineFeedAt] = 0x0A;
    };
    message(1100, 1050);
    message(4104, 0);
    for (int i = 0; i < 3; ++i) message(10, 0);
    return data;
}

// The data with F7 F0 put in at each of `cuts`, F7 behind a cut that is the last byte's, as
// framing a chunk that ends inside a message does.
Bytes WithFramingAt(const Bytes& data, std::vector<std::size_t> cuts) {
    Bytes out;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from), data.begin() + static_cast<std::ptrdiff_t>(cut));
        out.push_back(0xF7);
        out.push_back(0xF0);
        from = cut;
    }
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from), data.end());
    return out;
}

// Each kind of file puts its own bytes on the wire: a raw SysEx file exactly its own, its chunks
// ending only at message ends (a message longer than max is a chunk of its own); an update file
// the chunks its settings cut, at line feeds too, each framed.
TEST_F(SendChunkedTest, EachKindOfFilePutsItsOwnBytesOnTheWire) {
    const Bytes data = MixedFirmware();
    PortSettings framedRaw = RawSysExPortSettings();
    framedRaw.chunks = true;  // what --chunks yes asks for
    framedRaw.wholeMessages = false;
    const struct {
        const char* kind;
        PortSettings settings;
        std::vector<std::uint32_t> chunks;
        Bytes wire;
        std::uint32_t cut, wireMessages;
    } cases[] = {
        {"raw", RawSysExPortSettings(), {1100, 4104, 30}, data, 0, 5},
        {"update", DefaultPortSettings, {1051, 3072, 1081, 30}, WithFramingAt(data, {1051, 4123}), 2, 7},
        {"raw, framed", framedRaw, {1051, 3072, 1081, 30}, WithFramingAt(data, {1051, 4123}), 2, 7},
    };
    for (const auto& c : cases) {
        ScriptedPort cutter;
        cutter.wholeMessages = c.settings.wholeMessages;
        SysExPortion portion;
        portion.data = data;
        SysExSender::SendChunked(portion, cutter, progress);
        EXPECT_EQ(ChunkLengths(cutter), c.chunks) << c.kind;
        const ChunkRules rules = ChunkRulesFor(c.settings);
        EXPECT_EQ(WireBytes(data, rules), c.wire) << c.kind;
        const CutCount cut = CountCutMessages(data, rules);
        EXPECT_EQ(cut.messages, 5u) << c.kind;
        EXPECT_EQ(cut.cut, c.cut) << c.kind;
        EXPECT_EQ(cut.wireMessages, c.wireMessages) << c.kind;
        EXPECT_EQ(cut.bytesInserted, c.wire.size() - data.size()) << c.kind;
    }
}

TEST(FormatByteSize, ShortTextsForByteCounts) {
    const struct {
        std::uint32_t n;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},           {1, "1 byte"},           {2, "2 bytes"},
        {1023, "1023 bytes"},     {1024, "1.0KB"},         {1501, "1.5KB"},
        {5000, "4.9KB"},          {1048575, "1024.0KB"},   {1048576, "1.0MB"},
        {1572864, "1.5MB"},       {0xFFFFFFFFu, "4096.0MB"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatByteSize(c.n), c.text) << c.n;
}

TEST(FormatDuration, ShortTextsForLengthsOfTime) {
    const struct {
        std::uint64_t ms;
        const char* text;
    } cases[] = {
        {0, "0s"},          {499, "0s"},           {500, "1s"},           {59499, "59s"},
        {59500, "1m 00s"},  {61000, "1m 01s"},     {3599499, "59m 59s"},  {3599500, "1h 00m"},
        {15420000, "4h 17m"}, {360000000, "100h 00m"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.ms), c.text) << c.ms;
}
