// What a device in update mode does with bytes that are not SysEx: the channel messages a host's
// MIDI system sends when it resets a port, real-time bytes anywhere, and status bytes that break a
// SysEx message.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "TestSupport.h"
#include "VirtualDeviceModel.h"

namespace {

const Bytes kPortion = {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7};
const Bytes kSecond = {0xF0, 0x40, 0xF7};
const Bytes kLong = {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7};
// A portion that puts a channel message of its own on the wire, between two SysEx messages.
const Bytes kWithVolume = {0xF0, 0x01, 0xF7, 0xB0, 0x07, 0x64, 0xF0, 0x02, 0xF7};

struct Case {
    const char* name;
    std::vector<Bytes> portions;
    std::vector<Bytes> pieces;  // as they arrive, one Receive each
    bool reset;                 // after each piece All Sound Off and sustain off on 16 channels
    Bytes statuses;             // the status bytes the device answers with, in order
    std::uint32_t channelIgnored, realTimeIgnored, corrupt;
    std::uint64_t unexpected;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class OutsideSysEx : public ::testing::TestWithParam<Case> {};

TEST_P(OutsideSysEx, OnlyFirmwareIsCheckedAndTheRestIsCounted) {
    const Case& c = GetParam();
    ScopedLogMute mute;
    VirtualDeviceModel model(MakeUpdate(c.portions), QuietSettings(), {});
    std::uint64_t now = 0;
    for (const Bytes& piece : c.pieces) {
        model.Receive(piece.data(), piece.size(), now += 10);
        for (std::uint8_t n = 0; c.reset && n < 32; ++n) {
            const Bytes message = {static_cast<std::uint8_t>(0xB0 | n / 2), std::uint8_t(n % 2 ? 0x40 : 0x78), 0x00};
            model.Receive(message.data(), message.size(), now);
        }
    }
    Bytes statuses;
    for (const Bytes& message : model.TakeDue(now + 60000)) statuses.push_back(message.at(11));
    EXPECT_EQ(statuses, c.statuses);
    const VirtualDeviceModel::Stats& s = model.GetStats();
    EXPECT_EQ(s.ignored.channelMessages, c.channelIgnored);
    EXPECT_EQ(s.ignored.realTimeMessages, c.realTimeIgnored);
    EXPECT_EQ(s.portionsCorrupt, c.corrupt);
    EXPECT_EQ(s.bytesUnexpected, c.unexpected);
    if (c.corrupt == 0 && c.unexpected == 0) {
        Bytes firmware;
        for (const Bytes& p : c.portions) firmware.insert(firmware.end(), p.begin(), p.end());
        EXPECT_EQ(model.Wire(), firmware) << "the firmware bytes, nothing set aside among them";
    }
}

constexpr std::uint8_t kOk = kStatusAccepted, kBad = kStatusFailed;

INSTANTIATE_TEST_SUITE_P(
    Cases, OutsideSysEx,
    ::testing::Values(
        Case{"ResetBetweenPortionsAndAfterTheLast", {kPortion, kSecond}, {kPortion, kSecond}, true, {kOk, kOk}, 64, 0,
             0, 0},
        Case{"ResetWithRunningStatusInOnePiece", {kPortion},
             {kPortion, {0xB0, 0x78, 0x00, 0x40, 0x00, 0xB1, 0x78, 0x00, 0x40, 0x00}}, false, {kOk}, 4, 0, 0, 0},
        Case{"RealTimeInsideAndBetweenSysExMessages", {kPortion},
             {{0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xFE, 0xF0}, {0xFA, 0x03, 0xF7}}, false, {kOk}, 0, 3, 0, 0},
        Case{"ProgramChangeAndChannelPressureHaveOneDataByte", {kPortion},
             {{0xC0, 0x05, 0x06, 0xD0, 0x10, 0x11}, kPortion}, false, {kOk}, 4, 0, 0, 0},
        Case{"PortionsOwnChannelMessageIsFirmware", {kWithVolume}, {kWithVolume}, true, {kOk}, 32, 0, 0, 0},
        Case{"PortionsOwnChannelMessageDamaged", {kWithVolume, kSecond},
             {{0xF0, 0x01, 0xF7, 0xB0, 0x07, 0x65, 0xF0, 0x02, 0xF7}, kSecond}, false, {kBad}, 1, 0, 1, 0},
        // The rest of the broken message stays firmware, not note data to set aside.
        Case{"ChannelStatusInsertedIntoSysEx", {kLong}, {{0xF0, 0x01, 0x90, 0x02, 0x03, 0x04, 0xF7}}, false, {kBad}, 0,
             0, 1, 1},
        // System common ends running status: data bytes after it belong to no message, and system
        // common is no message a device in update mode sets aside.
        Case{"SystemCommonEndsRunningStatus", {kPortion},
             {kPortion, {0xB0, 0x78, 0x00, 0xF6, 0x40, 0x00, 0xB0, 0x40, 0x00}}, false, {kOk}, 2, 0, 0, 3},
        Case{"AChannelMessageCutShortIsFirmware", {kPortion}, {{0xB0, 0x78}, kPortion}, false, {kBad}, 0, 0, 1, 2}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
