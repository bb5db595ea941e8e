// Code page 1252 texts and the description of a portion's SysEx content.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SysExContent.h"
#include "TextEncoding.h"

namespace {

TEST(Cp1252, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string back, error;
    ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(all), back, error)) << error;
    EXPECT_EQ(back, all);
}

TEST(Cp1252, KnownCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xE9", "\xC3\xA9"},          // é
        {"\x80", "\xE2\x82\xAC"},      // €
        {"\x81", "\xC2\x81"},          // undefined in 1252: the control character of that number
        {"\x9D", "\xC2\x9D"},
        {"\x99", "\xE2\x84\xA2"},      // ™
        {"Pad 2", "Pad 2"},
    };
    for (const auto& [cp1252, utf8] : cases) {
        EXPECT_EQ(Cp1252ToUtf8(cp1252), utf8);
        std::string back, error;
        EXPECT_TRUE(Utf8ToCp1252(utf8, back, error));
        EXPECT_EQ(back, cp1252);
    }
}

TEST(Cp1252, TextsItCannotHoldAreRefusedWithTheReason) {
    const std::pair<std::string, const char*> cases[] = {
        {"\xE2\x86\x92", "U+2192"},          // an arrow
        {"ok \xF0\x9F\x8E\xB9", "U+1F3B9"},  // an emoji
        {"\xC3", "not valid UTF-8"},         // cut short
        {"\xC0\xAF", "not valid UTF-8"},     // overlong
        {"\xED\xA0\x80", "not valid UTF-8"}, // a surrogate
    };
    for (const auto& [utf8, reason] : cases) {
        std::string out, error;
        EXPECT_FALSE(Utf8ToCp1252(utf8, out, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(SysExContent, CountsMessagesManufacturersAndProblems) {
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        const char* name;
        Bytes data;
        std::size_t messages;
        std::vector<std::string> manufacturers;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"clean", {0xF0, 0x41, 0x01, 0xF7, 0xF0, 0x00, 0x20, 0x33, 0x02, 0xF7, 0xF0, 0x41, 0xF7},
         3, {"41", "00 20 33"}, {}},
        {"stray bytes", {0x01, 0xF7, 0xF0, 0x43, 0xF7, 0x02}, 1, {"43"}, {"3 bytes outside SysEx messages"}},
        {"high data byte", {0xF0, 0x43, 0x90, 0xF7}, 1, {"43"},
         {"1 data byte of 0x80 or above inside SysEx messages"}},
        {"cut by a new F0 and by the end", {0xF0, 0x43, 0xF0, 0x44, 0xF7, 0xF0, 0x45}, 1, {"44"},
         {"2 messages without F7"}},
        {"empty", {}, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SysExContent content = DescribeSysEx(c.data.data(), c.data.size());
        EXPECT_EQ(content.messages, c.messages);
        EXPECT_EQ(content.manufacturers, c.manufacturers);
        EXPECT_EQ(content.warnings, c.warnings);
    }
}

}  // namespace
