// The device behaviour text a user gives on the command line.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "SimulatedDevices.h"
#include "VirtualDevice.h"

namespace {

using Mode = DeviceBehaviour::StatusMode;

TEST(ParseDeviceBehaviour, ValidTexts) {
    struct Case {
        const char* text;
        Mode status;
        std::uint32_t installCount;
        bool identityEnabled;
        std::optional<FirmwareVersion> identity;
        std::uint32_t offlineMs;
    };
    const Case cases[] = {
        {"", Mode::Accept, 0, true, std::nullopt, 0},
        {"  ", Mode::Accept, 0, true, std::nullopt, 0},
        {"status=accept", Mode::Accept, 0, true, std::nullopt, 0},
        {"status=fail", Mode::Fail, 0, true, std::nullopt, 0},
        {"status=none", Mode::None, 0, true, std::nullopt, 0},
        {"status=install:3", Mode::Install, 3, true, std::nullopt, 0},
        {"status=install:0", Mode::Install, 0, true, std::nullopt, 0},
        {"status=install:10000", Mode::Install, 10000, true, std::nullopt, 0},
        {"identity=none", Mode::Accept, 0, false, std::nullopt, 0},
        // The minor version is the number after the point: 1.05 and 1.5 are the same.
        {"identity=1.05", Mode::Accept, 0, true, FirmwareVersion{1, 5}, 0},
        {"identity=1.5", Mode::Accept, 0, true, FirmwareVersion{1, 5}, 0},
        {"identity=0.00", Mode::Accept, 0, true, FirmwareVersion{0, 0}, 0},
        {"identity=2815.99", Mode::Accept, 0, true, FirmwareVersion{2815, 99}, 0},
        {"offline=2500", Mode::Accept, 0, true, std::nullopt, 2500},
        {"offline=4294967295", Mode::Accept, 0, true, std::nullopt, 4294967295u},
        {"status=none,identity=1.06,offline=10", Mode::None, 0, true, FirmwareVersion{1, 6}, 10},
        {"offline=10, status=install:2 ,identity=none", Mode::Install, 2, false, std::nullopt, 10},
        // A later item for the same key wins.
        {"status=fail,status=accept", Mode::Accept, 0, true, std::nullopt, 0},
        {"identity=none,identity=2.1", Mode::Accept, 0, true, FirmwareVersion{2, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const DeviceBehaviour b = ParseDeviceBehaviour(c.text);
        EXPECT_EQ(b.status, c.status);
        EXPECT_EQ(b.installCount, c.installCount);
        EXPECT_EQ(b.identityEnabled, c.identityEnabled);
        EXPECT_EQ(b.identity.has_value(), c.identity.has_value());
        if (b.identity && c.identity) {
            EXPECT_EQ(*b.identity, *c.identity);
        }
        EXPECT_EQ(b.offlineMs, c.offlineMs);
    }
}

TEST(ParseDeviceBehaviour, InvalidTextsNameTheBadItem) {
    struct Case {
        const char* text;
        const char* named;  // part of the message that points at the bad item
    };
    const Case cases[] = {
        {"colour=red", "'colour=red'"},
        {"Status=accept", "'Status=accept'"},
        {"status", "'status'"},
        {"status=", "'status='"},
        {"status=ACCEPT", "'status=ACCEPT'"},
        {"status=maybe", "'status=maybe'"},
        {"status=install", "'status=install'"},
        {"status=install:", "'status=install:'"},
        {"status=install:x", "'status=install:x'"},
        {"status=install:-1", "'status=install:-1'"},
        {"status=install:10001", "'status=install:10001'"},
        {"identity=1", "'identity=1'"},
        {"identity=1.", "'identity=1.'"},
        {"identity=.5", "'identity=.5'"},
        {"identity=1.2.3", "'identity=1.2.3'"},
        {"identity=1.100", "'identity=1.100'"},
        {"identity=2816.0", "'identity=2816.0'"},
        {"identity=99999999999.0", "'identity=99999999999.0'"},
        {"identity=yes", "'identity=yes'"},
        {"offline=", "'offline='"},
        {"offline=-5", "'offline=-5'"},
        {"offline=1s", "'offline=1s'"},
        {"offline=4294967296", "'offline=4294967296'"},
        {"status=accept,bogus=1", "'bogus=1'"},
        {"status=accept,,offline=1", "empty item"},
        {"answer=loud", "'answer=loud'"},
        {"answer=", "'answer='"},
        {"drop=0", "'drop=0'"},
        {"drop=half", "'drop=half'"},
        {"identity=SHORT", "'identity=SHORT'"},
        {"status=accept,", "empty item"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseDeviceBehaviour(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.named), std::string::npos) << message;
            EXPECT_EQ(message.back(), '.') << "a sentence: " << message;
        }
    }
}

TEST(ParseDeviceBehaviour, MisbehaviourTexts) {
    using Answer = DeviceBehaviour::Answer;
    using Shape = DeviceBehaviour::IdentityShape;
    const struct {
        const char* text;
        Answer answer;
        Shape shape;
        bool identityEnabled;
        std::uint64_t dropAfterBytes;
    } cases[] = {
        {"", Answer::Normal, Shape::Whole, true, 0},
        {"answer=garbage", Answer::Garbage, Shape::Whole, true, 0},
        {"answer=echo", Answer::Echo, Shape::Whole, true, 0},
        {"answer=stream", Answer::Stream, Shape::Whole, true, 0},
        {"answer=late,answer=normal", Answer::Normal, Shape::Whole, true, 0},
        {"identity=short", Answer::Normal, Shape::Short, true, 0},
        {"identity=none,identity=cut", Answer::Normal, Shape::Cut, true, 0},
        {"identity=malformed,identity=1.05", Answer::Normal, Shape::Whole, true, 0},
        {"drop=1500,answer=late", Answer::Late, Shape::Whole, true, 1500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const DeviceBehaviour b = ParseDeviceBehaviour(c.text);
        EXPECT_EQ(b.answer, c.answer);
        EXPECT_EQ(b.identityShape, c.shape);
        EXPECT_EQ(b.identityEnabled, c.identityEnabled);
        EXPECT_EQ(b.dropAfterBytes, c.dropAfterBytes);
    }
}

}  // namespace

// The name a simulated device's ports go by is the one the updater looks for on that platform.
TEST(SimulatedDeviceName, IsTheNameTheUpdaterLooksFor) {
    Update named;
    named.productName = "Pad";
    named.winPort.names = {"Pad MIDI 1"};
    named.macNames = {"Pad Mac"};
    Update productOnly;
    productOnly.productName = "Pad";
    productOnly.winPort.names = {};
    Update raw = productOnly;
    raw.isRawSysEx = true;
    struct Case {
        const Update* update;
        HostPlatform platform;
        const char* name;
    };
    const Case cases[] = {
        {&named, HostPlatform::Linux, "Pad MIDI 1"},    {&named, HostPlatform::MacOS, "Pad Mac"},
        {&productOnly, HostPlatform::Linux, "Pad"},     {&raw, HostPlatform::Windows, "SysEx Device"},
        {nullptr, HostPlatform::Linux, "SysEx Device"},
    };
    for (const Case& c : cases) EXPECT_EQ(SimulatedDeviceName(c.update, c.platform), c.name) << c.name;
}
