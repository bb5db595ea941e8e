#include <gtest/gtest.h>

#include <algorithm>

#include "ScriptedPort.h"
#include "TestSupport.h"
#include "UpdateStatus.h"

namespace {

void ExpectEmpty(const DeviceIdentity& identity) {
    EXPECT_EQ(identity.manufacturerText, "");
    EXPECT_EQ(identity.familyText, "");
    EXPECT_EQ(identity.versionText, "");
    EXPECT_EQ(identity.deviceName, "");
}

}  // namespace

TEST(ParseDeviceEnquiryResponse, OneByteManufacturerId) {
    const DeviceIdentity identity = ParseDeviceEnquiryResponse(IdentityReply({0x41}, 0x19, 0x00, 0x01, 0x00, 0x05));
    EXPECT_EQ(identity.manufacturerText, "41 ");
    EXPECT_EQ(identity.familyText, "19 ");
    EXPECT_EQ(identity.versionText, "1.05");
    EXPECT_EQ(identity.deviceName, "Pad");
}

TEST(ParseDeviceEnquiryResponse, ThreeByteManufacturerIdMovesEverythingTwoPlacesOn) {
    // Written out by hand: p = 8, version bytes at 11 to 14, name from 20.
    const Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x21, 0x09, 0x33, 0x7F, 0x7F,
                         0x01, 0x02, 0x03, 0x04, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
                         'K', 'e', 'y', 's', 0x00, 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF7};
    const DeviceIdentity identity = ParseDeviceEnquiryResponse(reply);
    EXPECT_EQ(identity.manufacturerText, "00 21 09 ");
    EXPECT_EQ(identity.familyText, "33 ");
    EXPECT_EQ(identity.versionText, "24.34");  // A x 22 + B, then C and D
    EXPECT_EQ(identity.deviceName, "Keys");
}

TEST(ParseDeviceEnquiryResponse, NameEndsAtTheFirstByteOf7FOrMore) {
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x41}, 0, 0, 1, 0, 5, "Pad\x7FMore")).deviceName, "Pad");
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x41}, 0, 0, 1, 0, 5, "Pa\xC1")).deviceName, "Pa");
    EXPECT_EQ(ParseDeviceEnquiryResponse(IdentityReply({0x41}, 0, 0, 1, 0, 5, "SixteenLettersAB")).deviceName,
              "SixteenLettersAB");  // the F7 after the name is not part of it
}

TEST(ParseDeviceEnquiryResponse, WrongHeaderGivesEmptyTexts) {
    const Bytes good = IdentityReply({0x41}, 0x19, 0, 1, 0, 5);
    const struct {
        std::size_t index;
        std::uint8_t value;
    } changes[] = {{0, 0xF1}, {1, 0x7F}, {2, 0x7F}, {2, 0x10}, {3, 0x07}, {4, 0x01}};
    for (const auto& change : changes) {
        Bytes reply = good;
        reply[change.index] = change.value;
        LogCapture log;
        ExpectEmpty(ParseDeviceEnquiryResponse(reply));
        EXPECT_EQ(log.Text(), "ParseDeviceEnquiryResponse: MIDI sysex header wrong\n") << change.index;
    }
}

TEST(ParseDeviceEnquiryResponse, ReplyShorterThanTheHeader) {
    for (std::size_t length = 0; length < 5; ++length) {
        LogCapture log;
        ExpectEmpty(ParseDeviceEnquiryResponse(Bytes(IdentityRequest, IdentityRequest + length)));
        EXPECT_EQ(log.Text(), "ParseDeviceEnquiryResponse: MIDI sysex header short\n");
    }
}

// Every cut of a reply: fields whose bytes are all present are filled as in the whole reply,
// the others stay empty, and the name keeps the letters that arrived. Each cut is its own
// allocation, so a read past its end shows under the address sanitizer.
TEST(ParseDeviceEnquiryResponse, CutRepliesNeverReadPastTheirEnd) {
    for (const Bytes& maker : {Bytes{0x41}, Bytes{0x00, 0x21, 0x09}}) {
        const std::string name = "ABCDEFGHIJKLMNOP";
        const Bytes whole = IdentityReply(maker, 0x19, 0, 1, 0, 5, name);
        const std::size_t p = 5 + maker.size();
        const DeviceIdentity full = ParseDeviceEnquiryResponse(whole);
        for (std::size_t length = 0; length <= p + 28; ++length) {
            SCOPED_TRACE(length);
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            const DeviceIdentity identity = ParseDeviceEnquiryResponse(cut);
            EXPECT_EQ(identity.manufacturerText, length >= p ? full.manufacturerText : "");
            EXPECT_EQ(identity.familyText, length > p ? full.familyText : "");
            EXPECT_EQ(identity.versionText, length >= p + 7 ? full.versionText : "");
            const std::size_t letters = length > p + 12 ? std::min<std::size_t>(length - (p + 12), 16) : 0;
            EXPECT_EQ(identity.deviceName, name.substr(0, letters));
        }
    }
}

TEST(FormatHexBytes, TwoUpperCaseDigitsAndASpaceEach) {
    const std::uint8_t bytes[] = {0x00, 0x2A, 0xff, 0x0b};
    EXPECT_EQ(FormatHexBytes(bytes, 2), "00 2A ");
    EXPECT_EQ(FormatHexBytes(bytes, 4), "00 2A FF 0B ");
    EXPECT_EQ(FormatHexBytes(bytes, 0), "");
}
