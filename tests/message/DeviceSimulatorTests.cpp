#include <gtest/gtest.h>

#include <functional>

#include "Clock.h"
#include "DeviceSimulator.h"
#include "SimulatedDevices.h"
#include "FakeConnection.h"
#include "UpdateStatus.h"

namespace {

class StepClock : public SimulatedClock {
public:
    std::function<void(std::uint64_t)> afterSleep;
    void SleepMs(std::uint32_t ms) override {
        SimulatedClock::SleepMs(ms);
        if (afterSleep) afterSleep(NowMs());
    }
};

Bytes Message(std::uint8_t fill, std::size_t size) {
    Bytes m(size, fill);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

// Whether the simulator's ports were present at each of the times asked about.
struct Presence {
    std::vector<std::uint64_t> times;
    std::vector<bool> open;
    void Look(std::uint64_t now, const FakeConnection& midi) {
        for (std::size_t i = 0; i < times.size(); ++i)
            if (open.size() == i && now >= times[i]) open.push_back(!midi.virtualName.empty());
    }
};

}  // namespace

TEST(DeviceSimulator, ChecksAFileUpdateAnswersAndVanishesWhileItReboots) {
    StepClock clock;
    ScopedClock use(clock);
    Update update;
    update.productName = "Pad";
    update.portions = {{Message(0x11, 20), 100}, {Message(0x22, 30), 0}};
    FakeConnection midi;
    auto device = MakeFileDevice(update, update.winPort, ParseDeviceBehaviour("offline=3000"));
    DeviceSimulator simulator(midi, *device, "Pad");
    // What it shows while it runs, each line when it changes.
    std::vector<std::string> arrived, steps;
    simulator.OnArrival([&](const SimulatedDevice& seen) {
        if (arrived.empty() || arrived.back() != seen.ArrivedLine()) arrived.push_back(seen.ArrivedLine());
        if (steps.empty() || steps.back() != seen.StepLine()) steps.push_back(seen.StepLine());
    });

    // Portion 1 at 100 ms: status at about 400 ms, gone from 1400 to 4400 ms. Portion 2 at 5000.
    Presence presence{{300, 1300, 1500, 4300, 4500}, {}};
    clock.afterSleep = [&](std::uint64_t now) {
        if (now == 100) midi.Deliver(update.portions[0].data);
        if (now == 5000) midi.Deliver(update.portions[1].data);
        presence.Look(now, midi);
    };
    ASSERT_TRUE(simulator.Run(7000));

    EXPECT_EQ(midi.sent, (std::vector<Bytes>{MakeStatusMessage(kStatusAccepted), MakeStatusMessage(kStatusAccepted)}));
    EXPECT_GE(midi.sentAtMs.at(0), 400u);
    EXPECT_LE(midi.sentAtMs.at(0), 410u);
    EXPECT_EQ(presence.open, (std::vector<bool>{true, true, false, false, true}));
    EXPECT_TRUE(device->Satisfied());
    EXPECT_NE(device->Report().find("Received 50 of 50 bytes in 2 of 2 SysEx messages"), std::string::npos) << device->Report();
    EXPECT_FALSE(midi.InputOpen());  // closed when the run ends
    EXPECT_EQ(arrived, (std::vector<std::string>{"Received 0 of 50 bytes; portions complete: 0 of 2",
                                                 "Received 20 of 50 bytes; portions complete: 1 of 2",
                                                 "Received 50 of 50 bytes; portions complete: 2 of 2"}));
    EXPECT_EQ(steps, (std::vector<std::string>{"Portions complete: 0 of 2, 0 corrupt",
                                               "Portions complete: 1 of 2, 0 corrupt",
                                               "Portions complete: 2 of 2, 0 corrupt"}));
}

TEST(DeviceSimulator, ReportsDataThatDiffersFromTheFileAndAnswersWithAnError) {
    StepClock clock;
    ScopedClock use(clock);
    Update update;
    update.portions = {{Message(0x11, 20), 0}};
    FakeConnection midi;
    auto device = MakeFileDevice(update, update.winPort, DeviceBehaviour{});
    DeviceSimulator simulator(midi, *device, "Pad");
    clock.afterSleep = [&](std::uint64_t now) {
        if (now == 100) midi.Deliver(Message(0x12, 20));
    };
    ASSERT_TRUE(simulator.Run(1000));
    EXPECT_EQ(midi.sent, (std::vector<Bytes>{MakeStatusMessage(kStatusFailed)}));
    EXPECT_FALSE(device->Satisfied());
    EXPECT_NE(device->Report().find("Verdict: the data differs from the file."), std::string::npos);
}

TEST(DeviceSimulator, WithoutAFileTakesAnySysExAndAnswersAfterAQuietSecond) {
    StepClock clock;
    ScopedClock use(clock);
    FakeConnection midi;
    auto device = MakeAnySysExDevice(ParseDeviceBehaviour("status=install:1,identity=2.01"));
    DeviceSimulator simulator(midi, *device, "Any");
    clock.afterSleep = [&](std::uint64_t now) {
        if (now == 100) midi.Deliver(Message(0x11, 300));
        if (now == 600) midi.Deliver({0xF0, 0x12, 0x13});  // one message in two pieces
        if (now == 700) midi.Deliver({0x14, 0xF7});
        if (now == 4000) midi.Deliver(Bytes(IdentityRequest, IdentityRequest + sizeof(IdentityRequest)));
    };
    ASSERT_TRUE(simulator.Run(5000));
    ASSERT_EQ(midi.sent.size(), 3u);
    EXPECT_EQ(midi.sent[0], MakeStatusMessage(kStatusInstalling));
    EXPECT_EQ(midi.sent[1], MakeStatusMessage(kStatusAccepted));
    EXPECT_EQ(midi.sent[2], MakeIdentityReply({2, 1}, "Simulator"));
    EXPECT_EQ(midi.sentAtMs[0], 1700u);  // a second after the last byte
    EXPECT_EQ(midi.sentAtMs[1], 1700u + kDeviceInstallStepMs);
    EXPECT_EQ(midi.sentAtMs[2], 4000u + kDeviceIdentityMs);
    EXPECT_TRUE(device->Satisfied());
    EXPECT_NE(device->Report().find("Received 305 bytes, 2 complete SysEx messages"), std::string::npos)
        << device->Report();
}

// The messages a host's reset sends between and after the portions are no part of the firmware:
// the report says what they were, apart from the bytes checked against the file.
TEST(DeviceSimulator, ReportsTheMessagesItIgnoredApartFromTheFirmware) {
    Update update;
    update.portions = {{Message(0x11, 20), 0}};
    auto device = MakeFileDevice(update, update.winPort, DeviceBehaviour{});
    const Bytes& firmware = update.portions[0].data;
    device->Receive(firmware.data(), firmware.size(), 100);
    for (std::uint8_t n = 0; n < 16; ++n) {
        const std::uint8_t status = static_cast<std::uint8_t>(0xB0 | n);
        const Bytes reset = {status, 0x78, 0x00, status, 0x40, 0x00, status, 0x7B, 0x00};
        device->Receive(reset.data(), reset.size(), 200);
    }
    const Bytes sensing = {0xFE};
    device->Receive(sensing.data(), sensing.size(), 300);
    EXPECT_TRUE(device->Satisfied());
    EXPECT_EQ(device->Report(),
              "Expecting: the file's bytes exactly as they stand, nothing added\n"
              "Received 20 of 20 bytes in 1 of 1 SysEx messages\n"
              "Portions complete: 1 of 1, 0 corrupt; unexpected bytes: 0; Identity Requests: 0\n"
              "Ignored 48 channel messages outside SysEx: 16 x Control Change 120 (All Sound Off), "
              "16 x Control Change 64 (Sustain), 16 x Control Change 123 (All Notes Off)\n"
              "Ignored 1 real-time message: 1 x Active Sensing (FE)\n"
              "Verdict: every byte arrived as the file says.\n");
}

// Input the MIDI system lost never arrives, so nothing in what did arrive need show it: its own
// count decides. A transfer it reported losing input in is never good, for either kind of device,
// even when every byte seemed to arrive; and the device without a file also catches the gap that
// a message broken off by another status byte leaves.
TEST(DeviceSimulator, InputTheMidiSystemLostMakesTheTransferNotGood) {
    Update update;
    update.portions = {{Message(0x11, 20), 0}};
    const Bytes& firmware = update.portions[0].data;
    const Bytes broken = {0xF0, 0x11, 0x12, 0xF0, 0x13, 0xF7};  // the first message's end is missing
    const std::string lostLine =
        "MIDI input errors: the MIDI system reported 2 input buffer overruns and 1 other input error; what came "
        "meanwhile was lost\n";
    const std::string lostVerdict =
        "Verdict: the MIDI system lost input on the way in, so this transfer is not good.\n";
    const struct Case {
        const char* name;
        bool withFile;
        Bytes sent;
        MidiInputErrors errors;
        bool good;
        std::vector<std::string> inReport;
        // The device's own answer: the file's device judges the bytes it has, the other one
        // fails wherever something went missing.
        std::uint8_t answer;
    } cases[] = {
        {"file, nothing lost", true, firmware, {}, true, {"Verdict: every byte arrived as the file says.\n"},
         kStatusAccepted},
        {"file, input lost", true, firmware, {2, 1}, false, {lostLine, lostVerdict}, kStatusAccepted},
        {"any SysEx, nothing lost", false, firmware, {}, true, {"Verdict: SysEx arrived (no file"}, kStatusAccepted},
        {"any SysEx, input lost", false, firmware, {2, 1}, false, {lostLine, lostVerdict}, kStatusFailed},
        {"any SysEx, a message broken off", false, broken, {}, false,
         {"Broken off: 1 SysEx message ended by a status byte other than F7\n",
          "Verdict: SysEx arrived broken: bytes are missing.\n"},
         kStatusFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StepClock clock;
        ScopedClock use(clock);
        FakeConnection midi;
        auto device = c.withFile ? MakeFileDevice(update, update.winPort, DeviceBehaviour{})
                                 : MakeAnySysExDevice(DeviceBehaviour{});
        DeviceSimulator simulator(midi, *device, "Pad");
        std::vector<std::string> arrived;
        simulator.OnArrival([&](const SimulatedDevice& seen) { arrived.push_back(seen.ArrivedLine()); });
        clock.afterSleep = [&](std::uint64_t now) {
            if (now == 100) midi.Deliver(c.sent);
            // The system tells of its loss only on its next read, after what came through.
            if (now == 150) midi.inputErrors = c.errors;
        };
        ASSERT_TRUE(simulator.Run(3000));
        EXPECT_EQ(device->Satisfied(), c.good);
        const std::string report = device->Report();
        for (const std::string& part : c.inReport) EXPECT_NE(report.find(part), std::string::npos) << report;
        EXPECT_EQ(arrived.back().find("3 MIDI input errors") != std::string::npos, c.errors.Any()) << arrived.back();
        EXPECT_EQ(midi.sent, (std::vector<Bytes>{MakeStatusMessage(c.answer)}));
    }
}
