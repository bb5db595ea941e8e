// The virtual device on its own: wire framing and pauses, what it answers and when.

#include <gtest/gtest.h>

#include "ChunkFraming.h"
#include "Clock.h"
#include "DeviceTestSupport.h"
#include "SysExSender.h"
#include "TestSupport.h"
#include "UpdateStatus.h"
#include "VirtualDevice.h"

namespace {

class VirtualDeviceTest : public ::testing::Test {
protected:
    SimulatedClock clock;
    ScopedClock use{clock};
    LogCapture log;

    // Sends `bytes` as one chunk.
    static void SendAll(VirtualDevice& device, const Bytes& bytes) {
        device.Send(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    // Reads and empties the device's store, as the status poll does.
    static Bytes Take(VirtualDevice& device) {
        Bytes message = device.GetSysEx();
        device.ClearSysEx();
        return message;
    }
};

const Bytes kPortion = {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7};

// --- Framing and pacing -----------------------------------------------------------------------

TEST_F(VirtualDeviceTest, FramesChunksLikeTheWindowsPort) {
    struct Case {
        const char* name;
        bool chunks;
        Bytes sent;
        Bytes onWire;
    };
    const Case cases[] = {
        {"neither end", true, {0x10, 0x20, 0x30}, {0xF0, 0x10, 0x20, 0x30, 0xF7}},
        {"complete message", true, {0xF0, 0x10, 0xF7}, {0xF0, 0x10, 0xF7}},
        {"missing end", true, {0xF0, 0x10}, {0xF0, 0x10, 0xF7}},
        {"missing start", true, {0x10, 0xF7}, {0xF0, 0x10, 0xF7}},
        {"lone start", true, {0xF0}, {0xF0, 0xF7}},
        {"lone end", true, {0xF7}, {0xF0, 0xF7}},
        {"framing off", false, {0x10, 0x20, 0x30}, {0x10, 0x20, 0x30}},
        {"framing off, half message", false, {0xF0, 0x10}, {0xF0, 0x10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortSettings settings = QuietSettings();
        settings.chunks = c.chunks;
        VirtualDevice device(MakeUpdate({kPortion}), settings, {});
        SendAll(device, c.sent);
        EXPECT_EQ(device.Wire(), c.onWire);
        EXPECT_EQ(device.GetStats().chunksReceived, 1u);
        EXPECT_EQ(device.GetStats().bytesReceived, c.onWire.size());
    }
}

TEST_F(VirtualDeviceTest, EmptySendPutsNothingOnTheWireAndDoesNotPause) {
    PortSettings settings = QuietSettings();
    settings.delay = 200;
    settings.unprepDelay = 100;
    VirtualDevice device(MakeUpdate({kPortion}), settings, {});
    device.Send(kPortion.data(), 0);
    EXPECT_TRUE(device.Wire().empty());
    EXPECT_EQ(device.GetStats().chunksReceived, 0u);
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(VirtualDeviceTest, PausesDelayThenUnprepDelayAfterEveryChunk) {
    struct Case {
        std::int32_t delay, unprepDelay;
        std::vector<std::uint32_t> sleeps;  // for two chunks
    };
    const Case cases[] = {
        {200, 100, {200, 100, 200, 100}},
        {0, 7, {0, 7, 0, 7}},
        // Negative values would be sleeps of weeks when read unsigned; they count as no pause.
        {-1, 50, {0, 50, 0, 50}},
        {30, -2147483647 - 1, {30, 0, 30, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delay << "/" << c.unprepDelay);
        SimulatedClock local;
        ScopedClock useLocal(local);
        PortSettings settings = QuietSettings();
        settings.delay = c.delay;
        settings.unprepDelay = c.unprepDelay;
        VirtualDevice device(MakeUpdate({kPortion}), settings, {});
        device.Send(kPortion.data(), 4);
        device.Send(kPortion.data() + 4, 3);
        EXPECT_EQ(local.Sleeps(), c.sleeps);
    }
}

// --- Status after each portion ------------------------------------------------------------------

TEST_F(VirtualDeviceTest, AcceptsAPortionOnlyAfterItsLastByte) {
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), {});
    ASSERT_TRUE(device.IsConnected());
    device.Send(kPortion.data(), 4);  // the first message only
    clock.Advance(10000);
    EXPECT_TRUE(device.GetSysEx().empty());
    EXPECT_EQ(device.GetStats().portionsCompleted, 0u);

    const std::uint64_t lastByteAt = clock.NowMs();
    device.Send(kPortion.data() + 4, 3);
    EXPECT_EQ(device.GetStats().portionsCompleted, 1u);
    clock.Advance(kDeviceProcessingMs - 1);
    EXPECT_TRUE(device.GetSysEx().empty()) << "the device needs its processing time";
    clock.Advance(1);
    EXPECT_EQ(clock.NowMs(), lastByteAt + kDeviceProcessingMs);
    EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusAccepted));
    EXPECT_EQ(CheckSysExUpdateStatus(device.GetSysEx()), Accepted);
    EXPECT_EQ(device.GetStats().portionsCorrupt, 0u);
    EXPECT_TRUE(log.Contains("VirtualDevice: portion 1 complete (intact)"));
}

TEST_F(VirtualDeviceTest, StatusMessageCarriesTheManufacturerId) {
    const Bytes message = MakeStatusMessage(0x20);
    ASSERT_EQ(message.size(), 13u);
    EXPECT_EQ(message[0], 0xF0);
    EXPECT_EQ(message[1], kManufacturerId[0]);
    EXPECT_EQ(message[2], kManufacturerId[1]);
    EXPECT_EQ(message[3], kManufacturerId[2]);
    EXPECT_EQ(message[4], 0x73);
    for (std::size_t i = 5; i <= 10; ++i) EXPECT_LT(message[i], 0x80) << "index " << i;
    EXPECT_EQ(message[11], 0x20);
    EXPECT_EQ(message[12], 0xF7);
    EXPECT_EQ(CheckSysExUpdateStatus(MakeStatusMessage(kStatusFailed)), Failed);
    EXPECT_EQ(CheckSysExUpdateStatus(MakeStatusMessage(kStatusInstalling)), Installing);
}

TEST_F(VirtualDeviceTest, CorruptByteGetsAFailureForThatPortionOnly) {
    const Bytes second = {0xF0, 0x40, 0xF7};
    VirtualDevice device(MakeUpdate({kPortion, second}), QuietSettings(), {});
    Bytes corrupt = kPortion;
    corrupt[2] = 0x09;
    SendAll(device, corrupt);
    clock.Advance(kDeviceProcessingMs);
    EXPECT_EQ(Take(device), MakeStatusMessage(kStatusFailed));
    EXPECT_EQ(device.GetStats().portionsCorrupt, 1u);
    EXPECT_TRUE(log.Contains("VirtualDevice: portion 1 complete (corrupt)"));

    SendAll(device, second);
    clock.Advance(kDeviceProcessingMs);
    EXPECT_EQ(Take(device), MakeStatusMessage(kStatusAccepted));
    EXPECT_EQ(device.GetStats().portionsCompleted, 2u);
    EXPECT_EQ(device.GetStats().portionsCorrupt, 1u);
}

TEST_F(VirtualDeviceTest, FailAndNoneBehaviours) {
    {
        DeviceBehaviour fail;
        fail.status = DeviceBehaviour::StatusMode::Fail;
        VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), fail);
        SendAll(device, kPortion);
        clock.Advance(kDeviceProcessingMs);
        EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusFailed));
        EXPECT_EQ(device.GetStats().portionsCorrupt, 0u);
    }
    {
        DeviceBehaviour none;
        none.status = DeviceBehaviour::StatusMode::None;
        VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), none);
        Bytes corrupt = kPortion;
        corrupt[1] = 0x7E;  // not even a broken portion makes a silent device speak
        SendAll(device, corrupt);
        clock.Advance(60000);
        EXPECT_TRUE(device.GetSysEx().empty());
        EXPECT_EQ(device.GetStats().portionsCompleted, 1u);
    }
}

TEST_F(VirtualDeviceTest, InstallingStatusesThenAcceptOneStepApart) {
    DeviceBehaviour behaviour;
    behaviour.status = DeviceBehaviour::StatusMode::Install;
    behaviour.installCount = 3;
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), behaviour);
    SendAll(device, kPortion);
    const std::uint64_t first = kDeviceProcessingMs;
    const std::vector<std::pair<std::uint64_t, Bytes>> expected = {
        {first, MakeStatusMessage(kStatusInstalling)},
        {first + kDeviceInstallStepMs, MakeStatusMessage(kStatusInstalling)},
        {first + 2 * kDeviceInstallStepMs, MakeStatusMessage(kStatusInstalling)},
        {first + 3 * kDeviceInstallStepMs, MakeStatusMessage(kStatusAccepted)},
    };
    for (const auto& [at, message] : expected) {
        clock.Advance(at - 1 - clock.NowMs());
        EXPECT_TRUE(Take(device).empty()) << "before " << at;
        clock.Advance(1);
        EXPECT_EQ(Take(device), message) << "at " << at;
    }
    clock.Advance(10000);
    EXPECT_TRUE(Take(device).empty()) << "nothing after the accept";
}

TEST_F(VirtualDeviceTest, UnreadStatusIsReplacedByTheNewerOne) {
    DeviceBehaviour behaviour;
    behaviour.status = DeviceBehaviour::StatusMode::Install;
    behaviour.installCount = 2;
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), behaviour);
    SendAll(device, kPortion);
    clock.Advance(kDeviceProcessingMs + 2 * kDeviceInstallStepMs);
    EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusAccepted));
}

TEST_F(VirtualDeviceTest, ClearForgetsWhatHasArrived) {
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), {});
    SendAll(device, kPortion);
    clock.Advance(kDeviceProcessingMs);
    device.ClearSysEx();  // the status has arrived by now, unread
    EXPECT_TRUE(device.GetSysEx().empty());
}

TEST_F(VirtualDeviceTest, ExpectsChunksCutAndFramedWithThePortsSizes) {
    // Ideal 4 and max 4 cut the 8-byte message in two halves, and framing closes and reopens it.
    const Bytes portion = {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xF7};
    {
        VirtualDevice device(MakeUpdate({portion}), QuietSettings(4, 4), {});
        device.Send(portion.data(), 4);
        device.Send(portion.data() + 4, 4);
        EXPECT_EQ(device.Wire(), (Bytes{0xF0, 0x01, 0x02, 0x03, 0xF7, 0xF0, 0x04, 0x05, 0x06, 0xF7}));
        clock.Advance(kDeviceProcessingMs);
        EXPECT_EQ(Take(device), MakeStatusMessage(kStatusAccepted));
    }
    {
        // The same bytes in one piece are not what the device expects from this port.
        VirtualDevice device(MakeUpdate({portion}), QuietSettings(4, 4), {});
        SendAll(device, portion);
        clock.Advance(60000);
        EXPECT_NE(Take(device), MakeStatusMessage(kStatusAccepted));
    }
    {
        // An ideal of 0 would cut empty chunks; the device expects the sender's fallback size.
        const Bytes big = SysExMessages(1, kFallbackIdealChunkSize + 10);
        VirtualDevice device(MakeUpdate({big}), QuietSettings(0, 0), {});
        device.Send(big.data(), kFallbackIdealChunkSize);
        device.Send(big.data() + kFallbackIdealChunkSize, 10);
        EXPECT_EQ(device.Wire().size(), big.size() + 2u);
        clock.Advance(kDeviceProcessingMs);
        EXPECT_EQ(Take(device), MakeStatusMessage(kStatusAccepted));
    }
}

TEST_F(VirtualDeviceTest, EmptyPortionsAreSkippedAndExtraBytesCounted) {
    const Bytes second = {0xF0, 0x40, 0xF7};
    VirtualDevice device(MakeUpdate({Bytes{}, second}), QuietSettings(), {});
    SendAll(device, second);
    EXPECT_TRUE(log.Contains("VirtualDevice: portion 2 complete (intact)"));
    SendAll(device, second);
    EXPECT_EQ(device.GetStats().bytesUnexpected, second.size());
    EXPECT_EQ(device.GetStats().portionsCompleted, 1u);
}

// --- Identity --------------------------------------------------------------------------------

TEST_F(VirtualDeviceTest, IdentityReplyReadsBackAsTheVersionText) {
    const FirmwareVersion versions[] = {{0, 0}, {1, 5}, {1, 50}, {21, 99}, {22, 0}, {99, 9}, {2815, 99}};
    for (const FirmwareVersion& v : versions) {
        const Bytes reply = MakeIdentityReply(v, "Pad");
        SCOPED_TRACE(VersionText(v));
        ASSERT_EQ(reply.size(), 37u);  // header 5, ID 3, 28 bytes read from p = 8 on, F7
        EXPECT_EQ(reply.front(), 0xF0);
        EXPECT_EQ(reply.back(), 0xF7);
        for (std::size_t i = 1; i + 1 < reply.size(); ++i) EXPECT_LT(reply[i], 0x80) << "index " << i;
        const DeviceIdentity identity = ParseDeviceEnquiryResponse(reply);
        EXPECT_EQ(identity.versionText, VersionText(v));
        EXPECT_EQ(identity.deviceName, "Pad");
        EXPECT_EQ(identity.manufacturerText, FormatHexBytes(kManufacturerId, 3));
    }
}

TEST_F(VirtualDeviceTest, IdentityReplyBytesForOnePointOFive) {
    const Bytes reply = MakeIdentityReply({1, 5}, "Pad");
    const Bytes head(reply.begin(), reply.begin() + 8);
    EXPECT_EQ(head, (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, kManufacturerId[0], kManufacturerId[1],
                           kManufacturerId[2]}));
    // A B C D at p + 3 to p + 6 with p = 8.
    EXPECT_EQ(Bytes(reply.begin() + 11, reply.begin() + 15), (Bytes{0, 1, 0, 5}));
    EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 23), (Bytes{'P', 'a', 'd'}));
    EXPECT_EQ(reply[23], 0x00);
}

TEST_F(VirtualDeviceTest, IdentityReplyRefusesVersionsItCannotCarry) {
    EXPECT_THROW(MakeIdentityReply({1, 100}, "x"), std::invalid_argument);
    EXPECT_THROW(MakeIdentityReply({2816, 0}, "x"), std::invalid_argument);
    // Names are cut to 16 bytes and kept 7-bit.
    const DeviceIdentity identity = ParseDeviceEnquiryResponse(
        MakeIdentityReply({1, 0}, std::string("ABCDEFGHIJKLMNOPQRST")));
    EXPECT_EQ(identity.deviceName, "ABCDEFGHIJKLMNOP");
    const Bytes high = MakeIdentityReply({1, 0}, "A\xC3\xA9");
    EXPECT_EQ(high[20], 'A');
    EXPECT_LT(high[21], 0x7F);
}

TEST_F(VirtualDeviceTest, QueryAnswersAnIdentityRequestAfterItsDelay) {
    VirtualDevice device(MakeUpdate({kPortion}, {2, 3}), QuietSettings(), {});
    device.Disconnect();  // a device answers on its own, whatever the host did with the port
    const Bytes reply = device.Query(5000, IdentityRequest, sizeof(IdentityRequest));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{kDeviceIdentityMs}));
    EXPECT_EQ(ParseDeviceEnquiryResponse(reply).versionText, "2.03");
    EXPECT_EQ(device.GetSysEx(), reply) << "the reply came in through the port";
    EXPECT_EQ(device.GetStats().identityRequests, 1u);
    EXPECT_TRUE(device.Wire().empty()) << "a query is not firmware data";
}

TEST_F(VirtualDeviceTest, QueryWithoutAnAnswerSleepsTheLimit) {
    {
        DeviceBehaviour silent;
        silent.identityEnabled = false;
        VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), silent);
        EXPECT_TRUE(device.Query(5000, IdentityRequest, sizeof(IdentityRequest)).empty());
        EXPECT_EQ(clock.NowMs(), 5000u);
        EXPECT_EQ(device.GetStats().identityRequests, 1u);
    }
    {
        VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), {});
        const Bytes other = {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7};
        EXPECT_TRUE(device.Query(1200, other.data(), 6).empty());
        EXPECT_EQ(clock.NowMs(), 6200u);
        EXPECT_EQ(device.GetStats().identityRequests, 0u);
    }
}

TEST_F(VirtualDeviceTest, DefaultIdentityIsTheFilesVersionOrOnePointZero) {
    struct Case {
        FirmwareVersion file;
        std::optional<FirmwareVersion> told;
        const char* replied;
    };
    const Case cases[] = {
        {{1, 5}, std::nullopt, "1.05"},
        {{0, 0}, std::nullopt, "1.00"},
        {{0, 7}, std::nullopt, "0.07"},
        {{1, 5}, FirmwareVersion{3, 12}, "3.12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replied);
        DeviceBehaviour behaviour;
        behaviour.identity = c.told;
        VirtualDevice device(MakeUpdate({kPortion}, c.file), QuietSettings(), behaviour);
        EXPECT_EQ(ParseDeviceEnquiryResponse(device.Query(5000, IdentityRequest, 6)).versionText,
                  c.replied);
    }
}

TEST_F(VirtualDeviceTest, FileVersionTheReplyCannotCarryMeansNoReply) {
    VirtualDevice device(MakeUpdate({kPortion}, {1, 150}), QuietSettings(), {});
    EXPECT_TRUE(device.Query(5000, IdentityRequest, 6).empty());
    EXPECT_TRUE(log.Contains("cannot be told in an Identity Reply"));
}

// --- Offline between portions ------------------------------------------------------------------

TEST_F(VirtualDeviceTest, GoesAwayAfterEachPortionsStatus) {
    DeviceBehaviour behaviour;
    behaviour.offlineMs = 3000;
    const Bytes second = {0xF0, 0x40, 0xF7};
    VirtualDevice device(MakeUpdate({kPortion, second}), QuietSettings(), behaviour);
    ASSERT_TRUE(device.IsConnected());
    SendAll(device, kPortion);
    clock.Advance(kDeviceProcessingMs);
    EXPECT_TRUE(device.IsConnected()) << "still there until the host has its status";
    EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusAccepted));
    EXPECT_FALSE(device.IsConnected()) << "away once its status is read";

    // Sends while it is away are lost, without the port's pauses.
    const std::size_t sleepsBefore = clock.Sleeps().size();
    SendAll(device, second);
    EXPECT_EQ(device.GetStats().sendsWhileClosed, 1u);
    EXPECT_EQ(device.Wire().size(), kPortion.size());
    EXPECT_EQ(clock.Sleeps().size(), sleepsBefore);
    EXPECT_TRUE(log.Contains("lost"));

    clock.Advance(2999);
    EXPECT_FALSE(device.IsConnected());
    clock.Advance(1);
    EXPECT_TRUE(device.IsConnected());
    SendAll(device, second);
    EXPECT_EQ(device.GetStats().portionsCompleted, 2u);
    EXPECT_EQ(device.GetStats().portionsCorrupt, 0u);
}

TEST_F(VirtualDeviceTest, OfflineWindowStartsWhenTheAcceptAfterInstallingIsRead) {
    DeviceBehaviour behaviour;
    behaviour.status = DeviceBehaviour::StatusMode::Install;
    behaviour.installCount = 2;
    behaviour.offlineMs = 1000;
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), behaviour);
    SendAll(device, kPortion);
    const std::uint64_t acceptAt = kDeviceProcessingMs + 2 * kDeviceInstallStepMs;
    clock.Advance(acceptAt - 1);
    EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusInstalling));
    EXPECT_TRUE(device.IsConnected()) << "an installing status does not end the portion";
    clock.Advance(1);
    EXPECT_EQ(device.GetSysEx(), MakeStatusMessage(kStatusAccepted));
    EXPECT_FALSE(device.IsConnected());
    clock.Advance(999);
    EXPECT_FALSE(device.IsConnected());
    clock.Advance(1);
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(VirtualDeviceTest, OfflineDeviceAnswersTheQueryOnceBack) {
    struct Case {
        std::uint32_t offlineMs;
        bool answered;
        std::uint64_t queryEndsAt;
    };
    // The status is read at 1000, so the device is away from 1000 to 1000 + offline; the query
    // follows at once and is answered after the device's delay once it is back.
    const Case cases[] = {
        {3000, true, 4000 + kDeviceIdentityMs},
        {4980, true, 6000},   // the reply lands exactly on the limit
        {4981, false, 6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offlineMs);
        SimulatedClock local;
        ScopedClock useLocal(local);
        DeviceBehaviour behaviour;
        behaviour.offlineMs = c.offlineMs;
        VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), behaviour);
        SendAll(device, kPortion);
        local.Advance(1000);
        ASSERT_FALSE(device.GetSysEx().empty());
        device.Disconnect();
        const Bytes reply = device.Query(5000, IdentityRequest, 6);
        EXPECT_EQ(reply.empty(), !c.answered);
        EXPECT_EQ(local.NowMs(), c.queryEndsAt);
        if (!c.answered) {
            // Too late for the caller, but the reply still comes in.
            local.Advance(1000 + c.offlineMs + kDeviceIdentityMs - local.NowMs());
            EXPECT_EQ(ParseDeviceEnquiryResponse(device.GetSysEx()).versionText, "1.05");
        }
    }
}

TEST_F(VirtualDeviceTest, IsConnectedOpensAndDisconnectCloses) {
    VirtualDevice device(MakeUpdate({kPortion}), QuietSettings(), {});
    EXPECT_TRUE(device.IsConnected());
    EXPECT_TRUE(log.Contains("VirtualDevice: port opened"));
    device.Disconnect();
    EXPECT_TRUE(log.Contains("VirtualDevice: port closed"));
    // Like a real port, a send on a closed port connects first.
    log.Clear();
    SendAll(device, kPortion);
    EXPECT_TRUE(log.Contains("VirtualDevice: port opened"));
    EXPECT_EQ(device.GetStats().sendsWhileClosed, 0u);
    EXPECT_EQ(device.Wire(), kPortion);
}

}  // namespace
