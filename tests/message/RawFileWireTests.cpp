// A whole run of a raw SysEx file through the message port over each MIDI system as released RtMidi
// takes it: what reaches the device is the file, byte for byte.

#include <gtest/gtest.h>

#include <sstream>

#include "FakeConnection.h"
#include "MessagePort.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "TransportLimits.h"
#include "UpdateStatus.h"

namespace {

// Messages of 300, 1100 (a line feed at 1050) and 4104 bytes, then 20 short ones.
Bytes Firmware() {
    Bytes data;
    const auto message = [&](std::size_t length) {
        data.push_back(0xF0);
        for (std::size_t i = 1; i + 1 < length; ++i) data.push_back(static_cast<std::uint8_t>(0x10 + i % 0x60));
        data.push_back(0xF7);
    };
    message(300);
    message(1100);
    data[300 + 1050] = 0x0A;
    message(4104);
    for (int i = 0; i < 20; ++i) message(12);
    return data;
}

struct RawRun {
    UpdateVerdict verdict;
    Bytes delivered;
    std::uint32_t sendFailures;
};

const struct {
    const char* name;
    FakeConnection::Model model;
} kSystems[] = {{"alsa", FakeConnection::Model::Alsa},
                {"jack", FakeConnection::Model::Jack},
                {"coremidi", FakeConnection::Model::CoreMidi}};

RawRun SendRawFile(const Bytes& file, const char* system, FakeConnection::Model model) {
    SimulatedClock clock{1000};
    ScopedClock useClock{clock};
    std::istringstream stream(std::string(file.begin(), file.end()), std::ios::binary);
    const Update update(stream);
    PortSettings settings = update.winPort;
    settings.names = {"Pad"};
    auto connection = std::make_unique<FakeConnection>();
    FakeConnection& midi = *connection;
    midi.outputs = midi.inputs = {"Pad:Pad MIDI 1 20:0"};
    midi.model = model;
    midi.limits = MidiSystemLimits(system);
    MessagePort port(std::move(connection), settings);
    SimpleSysExSender sender(port);
    RecordingProgress progress;
    const UpdateVerdict verdict = sender.Send(update, progress);
    return {verdict, midi.Delivered(), port.SendFailures()};
}

}  // namespace

TEST(RawFileWire, TheDeviceReceivesTheFileAsItStands) {
    const Bytes file = Firmware();
    Bytes expected = file;
    // Without a status the run then asks the device for its version.
    expected.insert(expected.end(), IdentityRequest, IdentityRequest + sizeof(IdentityRequest));
    for (const auto& system : kSystems) {
        const RawRun run = SendRawFile(file, system.name, system.model);
        EXPECT_EQ(run.delivered, expected) << system.name;
        EXPECT_EQ(run.sendFailures, 0u) << system.name;
        EXPECT_EQ(run.verdict, UpdateVerdict::SentCheckDevice) << system.name;  // the fake never answers
    }
}

// Unframed, a last message without its F7 cannot pass a system of whole events: the run must not
// call the update sent.
TEST(RawFileWire, ALastMessageWithoutItsEndCountsAsNotSent) {
    Bytes file = Firmware();
    file.pop_back();
    for (const auto& system : kSystems) {
        const RawRun run = SendRawFile(file, system.name, system.model);
        // The last message (12 bytes, now 11) never arrives; an error verdict asks nothing more.
        EXPECT_EQ(run.delivered, Bytes(file.begin(), file.end() - 11)) << system.name;
        EXPECT_GE(run.sendFailures, 1u) << system.name;
        EXPECT_EQ(run.verdict, UpdateVerdict::DeviceError) << system.name;
    }
}
