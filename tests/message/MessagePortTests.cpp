#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "ChunkFraming.h"
#include "Clock.h"
#include "FakeConnection.h"
#include "MessagePort.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "UpdateStatus.h"

namespace {

const Bytes kIdentityRequest(IdentityRequest, IdentityRequest + sizeof(IdentityRequest));
const Bytes kIdentityReply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x05, 0xF7};
const Bytes kStatus = {0xF0, kManufacturerId[0], kManufacturerId[1], kManufacturerId[2], 0x73, 1, 2, 3, 4, 5, 6, 0x00, 0xF7};

PortSettings Settings(std::set<std::string> names, std::int32_t delay = 0, std::int32_t unprepDelay = 0) {
    PortSettings s;
    s.names = std::move(names);
    s.delay = delay;
    s.unprepDelay = unprepDelay;
    return s;
}

// A port over a fake system that lists one device, "Pad", among others.
// A simulated clock that lets the test act after each sleep, as a device acts while the host waits.
class ScriptedClock : public SimulatedClock {
public:
    using SimulatedClock::SimulatedClock;
    std::function<void(std::uint64_t)> afterSleep;
    void SleepMs(std::uint32_t ms) override {
        SimulatedClock::SleepMs(ms);
        if (afterSleep) afterSleep(NowMs());
    }
};

struct PortFixture : ::testing::Test {
    ScriptedClock clock{1000};
    ScopedClock useClock{clock};
    FakeConnection* midi = nullptr;
    std::unique_ptr<MessagePort> port;

    void Make(const PortSettings& settings, TransportLimits limits = {}) {
        auto connection = std::make_unique<FakeConnection>();
        midi = connection.get();
        midi->outputs = {"Midi Through:Midi Through Port-0 14:0", "Pad:Pad MIDI 1 20:0"};
        midi->inputs = {"Midi Through:Midi Through Port-0 14:0", "Pad:Pad MIDI 1 20:0"};
        midi->limits = limits;
        port = std::make_unique<MessagePort>(std::move(connection), settings);
    }
};

// SysEx messages of the given lengths (F0 and F7 included) back to back, with data bytes that run
// on from message to message and are never a line feed (which would end a chunk).
Bytes Messages(std::initializer_list<std::size_t> lengths) {
    Bytes all;
    std::size_t n = 0;
    for (std::size_t length : lengths) {
        all.push_back(0xF0);
        for (std::size_t i = 2; i < length; ++i)
            all.push_back(static_cast<std::uint8_t>(0x10 + n++ % 0x60));
        all.push_back(0xF7);
    }
    return all;
}

PortSettings Pacing(bool chunks, std::int32_t ideal, std::int32_t max) {
    PortSettings s = Settings({"Pad"}, 20, 10);
    s.chunks = chunks;
    s.ideal = ideal;
    s.max = max;
    return s;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Hands a portion to the port chunk by chunk as an update run does, and closes the port after it.
// Returns the chunks as framed for the port: what should reach the device.
Bytes SendPortion(MessagePort& port, const Bytes& portion, const PortSettings& s) {
    Bytes framed;
    const std::uint8_t* const end = portion.data() + portion.size();
    for (const std::uint8_t* at = portion.data(); at != end;) {
        const std::uint8_t* const chunkEnd =
            FindChunkEnd(at, end, static_cast<std::uint32_t>(s.ideal), static_cast<std::uint32_t>(s.max));
        const auto length = static_cast<std::uint32_t>(chunkEnd - at);
        port.Send(at, length);
        framed = framed + FrameChunk(at, length, s.chunks);
        at = chunkEnd;
    }
    port.Disconnect();
    return framed;
}

using RtMidiPortConnection = PortFixture;
using RtMidiPortSending = PortFixture;
using RtMidiPortQuery = PortFixture;
using RtMidiPortInput = PortFixture;

}  // namespace

TEST_F(RtMidiPortConnection, OpensTheMatchingPortsOnDemandAndClosesBoth) {
    Make(Settings({"Pad"}));
    EXPECT_FALSE(midi->OutputOpen());  // nothing opens at construction
    EXPECT_TRUE(port->IsConnected());
    EXPECT_EQ(midi->openOutput, "Pad:Pad MIDI 1 20:0");
    EXPECT_EQ(midi->openInput, "Pad:Pad MIDI 1 20:0");
    EXPECT_TRUE(port->IsConnected());
    EXPECT_EQ(midi->outputOpens, 1);  // an open port stays open
    port->Disconnect();
    EXPECT_FALSE(midi->OutputOpen());
    EXPECT_FALSE(midi->InputOpen());
}

TEST_F(RtMidiPortConnection, ADeviceThatGoesAwayIsClosedAndFoundAgainWhenItReturns) {
    Make(Settings({"Pad"}));
    ASSERT_TRUE(port->IsConnected());
    const std::vector<std::string> present = midi->outputs;
    midi->outputs = {"Midi Through:Midi Through Port-0 14:0"};
    midi->inputs = midi->outputs;
    EXPECT_FALSE(port->IsConnected());
    EXPECT_FALSE(midi->OutputOpen());
    EXPECT_FALSE(midi->InputOpen());
    midi->outputs = present;
    midi->inputs = present;
    EXPECT_TRUE(port->IsConnected());
    EXPECT_EQ(midi->outputOpens, 2);
    EXPECT_EQ(midi->openInput, "Pad:Pad MIDI 1 20:0");
}

TEST_F(RtMidiPortConnection, AnInputThatAppearsAfterTheOutputIsOpenedWhenItComes) {
    TransportLimits limits;
    limits.settleMs = 100;
    Make(Settings({"Pad"}), limits);
    const std::vector<std::string> present = midi->inputs;
    midi->inputs.clear();
    EXPECT_TRUE(port->IsConnected());  // the output is what sending needs
    EXPECT_FALSE(midi->InputOpen());
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{100}));  // the new connection settles
    midi->inputs = present;
    EXPECT_TRUE(port->IsConnected());
    EXPECT_EQ(midi->openInput, "Pad:Pad MIDI 1 20:0");
    EXPECT_EQ(midi->outputOpens, 1);
}

TEST_F(RtMidiPortConnection, WithoutAMatchingDeviceItIsNotConnectedAndDoesNotOpenAThroughPort) {
    Make(Settings({"Keys"}));
    EXPECT_FALSE(port->IsConnected());
    EXPECT_FALSE(midi->OutputOpen());
    EXPECT_FALSE(midi->InputOpen());
}

TEST_F(RtMidiPortSending, FramesEachChunkCutsItIntoPiecesAndKeepsThePauses) {
    TransportLimits limits;
    limits.maxPieceBytes = 4;
    limits.queueBytes = 1000;
    Make(Settings({"Pad"}, 200, 100), limits);
    const Bytes chunk = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
    port->Send(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    EXPECT_EQ(midi->sent, (std::vector<Bytes>{{0xF0, 0x10, 0x11, 0x12}, {0x13, 0x14, 0x15, 0xF7}}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{200, 100}));
    EXPECT_EQ(port->SendFailures(), 0u);
}

TEST_F(RtMidiPortSending, NothingToSendTouchesNothing) {
    Make(Settings({"Pad"}, 200, 100));
    port->Send(nullptr, 0);
    EXPECT_FALSE(midi->OutputOpen());
    EXPECT_TRUE(midi->sent.empty());
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(RtMidiPortSending, PacesPiecesSoThatTheSystemNeverHoldsMoreThanItCan) {
    TransportLimits limits;
    limits.maxPieceBytes = 100;
    limits.queueBytes = 250;
    limits.drainBytesPerMs = 10.0;
    Make(Settings({"Pad"}), limits);
    Bytes chunk(498, 0x22);  // framed: 500 bytes, five pieces of 100
    port->Send(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    ASSERT_EQ(midi->sent.size(), 5u);
    EXPECT_EQ(midi->Wire(), FrameChunk(chunk.data(), static_cast<std::uint32_t>(chunk.size()), true));
    // Two pieces fit at once; each further one waits until 50 bytes more have drained.
    const std::uint64_t t0 = midi->sentAtMs[0];
    EXPECT_EQ(midi->sentAtMs[1] - t0, 0u);
    EXPECT_EQ(midi->sentAtMs[2] - t0, 5u);
    EXPECT_EQ(midi->sentAtMs[3] - t0, 15u);
    EXPECT_EQ(midi->sentAtMs[4] - t0, 25u);
    // A chunk that comes after the system has drained goes out at once.
    clock.Advance(1000);
    port->Send(chunk.data(), 100);
    EXPECT_EQ(midi->sentAtMs[5], clock.NowMs());
}

TEST_F(RtMidiPortSending, ARefusedPieceOrAMissingDeviceCountsAsAFailedSend) {
    TransportLimits limits;
    limits.maxPieceBytes = 4;
    Make(Settings({"Pad"}, 200, 100), limits);
    midi->refusedSends = {2};
    const Bytes chunk = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
    port->Send(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    EXPECT_EQ(port->SendFailures(), 1u);
    EXPECT_EQ(midi->sent.size(), 1u);  // the rest of a broken chunk is not sent
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{100}));  // no hand-over pause, the release one

    midi->outputs.clear();
    port->Send(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    EXPECT_EQ(port->SendFailures(), 2u);
    EXPECT_EQ(midi->sent.size(), 1u);
}

TEST_F(RtMidiPortSending, AnUpdateRunOverTheFakeSystemPutsEveryByteOnTheWire) {
    TransportLimits limits;
    limits.maxPieceBytes = 64;
    Make(Settings({"Pad"}), limits);
    Update update;
    update.productName = "Pad";
    update.version = {1, 5};
    SysExPortion portion;
    for (int m = 0; m < 5; ++m) {
        portion.data.push_back(0xF0);
        portion.data.insert(portion.data.end(), 500, static_cast<std::uint8_t>(m));
        portion.data.push_back(0xF7);
    }
    update.portions.push_back(portion);
    // The device reports its status once the last byte is in.
    const std::size_t total = portion.data.size();
    midi->onSend = [&](const Bytes&) {
        if (midi->Wire().size() == total) midi->Deliver(kStatus);
    };
    RecordingProgress progress;
    SimpleSysExSender sender(*port);
    EXPECT_EQ(sender.Send(update, progress), UpdateVerdict::Updated);
    EXPECT_EQ(midi->Wire(), portion.data);
}

// Over each system, modelled as released RtMidi takes what it is sent and as the system passes it
// on, every chunk shape arrives as sent, with nothing refused or lost.
TEST_F(RtMidiPortSending, OverEverySystemEveryByteArrivesWhereverChunksAndMessagesEnd) {
    struct System {
        const char* name;
        FakeConnection::Model model;
    };
    const System systems[] = {{"alsa", FakeConnection::Model::Alsa},
                              {"jack", FakeConnection::Model::Jack},
                              {"coremidi", FakeConnection::Model::CoreMidi}};
    const Bytes note = {0x90, 0x40, 0x7F};
    const Bytes program = {0xC0, 0x05};
    const Bytes clock = {0xF8};
    struct Case {
        const char* name;
        std::vector<Bytes> portions;
        PortSettings settings;
        Bytes arrives;  // when it differs from what the port was handed
    };
    const Case cases[] = {
        {"chunks framed by the port", {Bytes(900, 0x33)}, Pacing(true, 300, 300), {}},
        {"two messages in one chunk", {Messages({40, 60})}, Pacing(true, 1000, 1000), {}},
        {"several messages in one chunk", {Messages({50, 50, 50, 50, 50, 50, 50, 50, 50, 50})},
         Pacing(true, 500, 500), {}},
        {"chunks that start inside a message and hold others", {Messages({300, 450, 200, 100})},
         Pacing(false, 400, 400), {}},
        {"a chunk that ends inside a message, the rest in the next", {Messages({700})}, Pacing(false, 500, 500), {}},
        {"messages longer than a piece, one a chunk", {Messages({600, 513, 257})}, Pacing(true, 1, 4096), {}},
        {"a message longer than a piece and a packet", {Messages({70000})}, Pacing(true, 80000, 80000), {}},
        {"700- and 300-byte messages in two portions", {Messages({700, 300, 700, 300}), Messages({700, 300, 700})},
         Pacing(true, 1000, 1024), {}},
        {"chunks off, messages longer than the chunk", {Messages({700, 700, 300})}, Pacing(false, 300, 300), {}},
        {"short messages and a clock between SysEx, cut inside them",
         {Messages({100}) + note + program + clock + Messages({600})}, Pacing(false, 101, 101), {}},
        {"running status between SysEx", {Messages({20}) + note + Bytes{0x41, 0x7F} + Messages({20})},
         Pacing(false, 1000, 1000), Messages({20}) + note + Bytes{0x90, 0x41, 0x7F} + Messages({20})},
    };
    for (const System& system : systems) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(system.name) + ": " + c.name);
            Make(c.settings, MidiSystemLimits(system.name));
            midi->model = system.model;
            Bytes handed;
            for (const Bytes& portion : c.portions) {
                ASSERT_TRUE(port->IsConnected());
                handed = handed + SendPortion(*port, portion, c.settings);
            }
            EXPECT_EQ(midi->Delivered(), c.arrives.empty() ? handed : c.arrives);
            EXPECT_TRUE(midi->lost.empty()) << midi->lost.size() << " messages lost, the first "
                                            << midi->lost.front().size() << " bytes";
            EXPECT_EQ(port->SendFailures(), 0u);
        }
    }
}

// Bytes that cannot make a message are not handed over as if they did, and count as not sent.
TEST_F(RtMidiPortSending, BytesOfNoMessageAreNotSentAndCountAsFailures) {
    Make(Pacing(false, 1000, 1000), MidiSystemLimits("coremidi"));
    midi->model = FakeConnection::Model::CoreMidi;
    const Bytes stray = Bytes{0x11, 0x12, 0x13, 0x14} + Messages({10});
    port->Send(stray.data(), static_cast<std::uint32_t>(stray.size()));
    EXPECT_EQ(midi->sent, (std::vector<Bytes>{Messages({10})}));
    EXPECT_EQ(port->SendFailures(), 1u);
}

// Bytes that end inside a message wait for the rest of it; closing the port or asking the device
// hands them over, and only a system that takes them makes that no failure.
// A message still unfinished when the port closes or asks the device never ends: it is not handed
// over (the request would be glued to it) and counts as not sent.
TEST_F(RtMidiPortSending, AMessageLeftUnfinishedWhenThePortClosesOrAsksCountsAsNotSent) {
    Bytes cut = Messages({700});
    cut.resize(400);
    for (const bool query : {false, true}) {
        SCOPED_TRACE(query ? "asked" : "closed");
        Make(Pacing(false, 1000, 1000), MidiSystemLimits("alsa"));
        midi->model = FakeConnection::Model::Alsa;
        port->Send(cut.data(), static_cast<std::uint32_t>(cut.size()));
        EXPECT_EQ(midi->sent, (std::vector<Bytes>{Bytes(cut.begin(), cut.begin() + 256)}));
        EXPECT_EQ(port->SendFailures(), 0u);
        if (query) {
            port->Query(100, kIdentityRequest.data(), 6);
        } else {
            port->Disconnect();
        }
        EXPECT_EQ(port->SendFailures(), 1u);
        // Asked, the request goes out alone after the first piece.
        const std::vector<Bytes> after =
            query ? std::vector<Bytes>{Bytes(cut.begin(), cut.begin() + 256), kIdentityRequest}
                  : std::vector<Bytes>{Bytes(cut.begin(), cut.begin() + 256)};
        EXPECT_EQ(midi->sent, after);
    }
}

TEST_F(RtMidiPortQuery, AsksAndIgnoresTheEchoOfItsOwnRequestAndOtherMessages) {
    Make(Settings({"Pad"}));
    midi->onSend = [&](const Bytes& request) {
        midi->Deliver(request);  // a loopback
        midi->Deliver(kStatus);  // a late status: not the answer
        midi->Deliver(kIdentityReply);
    };
    const Bytes reply = port->Query(5000, kIdentityRequest.data(), 6);
    EXPECT_EQ(reply, kIdentityReply);
    EXPECT_EQ(midi->sent, (std::vector<Bytes>{kIdentityRequest}));
}

TEST_F(RtMidiPortQuery, WaitsUpToTheLimitForAReplyThatComesLate) {
    Make(Settings({"Pad"}));
    const std::uint64_t start = clock.NowMs();
    bool replied = false;
    clock.afterSleep = [&](std::uint64_t now) {
        if (!replied && now >= start + 1200) {
            replied = true;
            midi->Deliver(kIdentityReply);
        }
    };
    EXPECT_EQ(port->Query(5000, kIdentityRequest.data(), 6), kIdentityReply);
    EXPECT_GE(clock.NowMs() - start, 1200u);
    EXPECT_LT(clock.NowMs() - start, 1250u);
}

TEST_F(RtMidiPortQuery, WaitsWithinTheLimitForADeviceThatIsRestarting) {
    Make(Settings({"Pad"}));
    const std::vector<std::string> present = midi->outputs;
    midi->outputs.clear();
    midi->inputs.clear();
    const std::uint64_t start = clock.NowMs();
    clock.afterSleep = [&](std::uint64_t now) {
        if (now >= start + 1500 && midi->outputs.empty()) midi->outputs = midi->inputs = present;
    };
    midi->onSend = [&](const Bytes&) { midi->Deliver(kIdentityReply); };
    EXPECT_EQ(port->Query(5000, kIdentityRequest.data(), 6), kIdentityReply);
    EXPECT_EQ(midi->sent, (std::vector<Bytes>{kIdentityRequest}));
    EXPECT_EQ(midi->sentAtMs.at(0) - start, 1500u);  // looked for every 500 ms
}

TEST_F(RtMidiPortQuery, GivesUpAtTheLimitAndWaitsForADeviceThatIsAway) {
    Make(Settings({"Pad"}));
    const std::uint64_t start = clock.NowMs();
    EXPECT_TRUE(port->Query(5000, kIdentityRequest.data(), 6).empty());
    EXPECT_EQ(clock.NowMs() - start, 5000u);

    // Away for the whole limit: nothing is sent.
    port->Disconnect();
    midi->sent.clear();
    midi->outputs.clear();
    const std::uint64_t again = clock.NowMs();
    EXPECT_TRUE(port->Query(2000, kIdentityRequest.data(), 6).empty());
    EXPECT_EQ(clock.NowMs() - again, 2000u);
    EXPECT_TRUE(midi->sent.empty());
}

TEST_F(RtMidiPortInput, FeedsOnlySysExToTheAssemblerWhateverElseArrives) {
    Make(Settings({"Pad"}));
    ASSERT_TRUE(port->IsConnected());
    midi->Deliver({0xF0, 0x10});
    midi->Deliver({0xF8});              // timing clock in the middle of a long message
    midi->Deliver({0xFE});              // active sensing
    midi->Deliver({0x90, 0x40, 0x7F});  // a note
    midi->Deliver({0x11, 0x12});        // the message goes on
    midi->Deliver({0xF7});
    EXPECT_EQ(port->GetSysEx(), (Bytes{0xF0, 0x10, 0x11, 0x12, 0xF7}));
}

// Input arrives on the MIDI system's thread while the update polls and asks on its own.
TEST_F(RtMidiPortInput, InputFromAnotherThreadReachesPollsAndQueriesSafely) {
    Make(Settings({"Pad"}));
    ASSERT_TRUE(port->IsConnected());
    std::atomic<bool> stop{false};
    std::atomic<unsigned> rounds{0};
    std::thread midiThread([&] {
        while (!stop) {
            midi->Deliver(kStatus);
            midi->Deliver(kIdentityReply);
            ++rounds;
        }
    });
    // However the threads are scheduled, the reads go on until ten statuses have come (bounded).
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int statuses = 0;
    while (statuses < 10 && std::chrono::steady_clock::now() < giveUp) {
        const Bytes message = port->GetSysEx();
        if (message == kStatus) ++statuses;
        // Whatever is read is one whole message, never a mixture of two.
        if (!message.empty()) {
            ASSERT_TRUE(message == kStatus || message == kIdentityReply);
        }
        port->ClearSysEx();
    }
    // Each of Query's looks waits until the other thread has delivered once more.
    clock.afterSleep = [&](std::uint64_t) {
        const unsigned seen = rounds;
        while (rounds == seen && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
    };
    const Bytes reply = port->Query(5000, kIdentityRequest.data(), 6);
    stop = true;
    midiThread.join();
    EXPECT_EQ(reply, kIdentityReply);
    EXPECT_GT(statuses, 0);
}
