// Which devices an update's port names pick out.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ChunkFraming.h"
#include "PortNames.h"

namespace {

TEST(PortNames, NormalisingDropsDigitsThenOneDashThenBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"2- Foo", "Foo"}, {"10-Foo", "Foo"}, {"4x4 Interface", "x4 Interface"}, {"123", ""},
        {"--Foo", "-Foo"}, {"  Foo", "Foo"}, {"Foo 2", "Foo 2"}, {"", ""},
    };
    for (const auto& [listed, normalised] : cases) EXPECT_EQ(NormalisePortName(listed), normalised) << listed;
}

TEST(PortNames, MatchingRules) {
    using Names = std::set<std::string>;
    struct Case {
        Names names;
        const char* device;
        bool matches;
        bool exactly;
    };
    const Case cases[] = {
        {{"Foo"}, "2- Foo", true, true},
        {{"Foo"}, "USB Foo Bar", true, false},         // substring
        {{"Foo"}, "foo", false, false},                 // case matters
        {{"Foo"}, "Fo", false, false},                  // a member longer than the device name
        {{}, "Microsoft GS Wavetable Synth", false, false},
        {{}, "1- Microsoft MIDI Mapper", false, false},
        {{"Microsoft GS Wavetable Synth"}, "Microsoft GS Wavetable Synth", false, false},
        {{}, "Anything", true, false},                  // no names: any device
        {{""}, "Anything", true, false},                // the empty name matches every device
        {{"Foo"}, "123", false, false},                 // normalised to nothing
        {{""}, "123", true, true},
        {{"2- Foo"}, "2- Foo", true, true},             // a name picked from the list as listed
        {{"2- Foo"}, "3- Foo", false, false},
        {{"B", "Foo"}, "My Foo", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesPortName(c.names, c.device), c.matches) << c.device;
        EXPECT_EQ(MatchesPortNameExactly(c.names, c.device), c.exactly) << c.device;
    }
}

TEST(ChunkFraming, FramingAddsOnlyTheMissingEnds) {
    using Bytes = std::vector<std::uint8_t>;
    struct Case {
        Bytes in;
        bool chunks;
        Bytes out;
    };
    const Case cases[] = {
        {{0x10, 0x20, 0x30}, true, {0xF0, 0x10, 0x20, 0x30, 0xF7}},
        {{0xF0, 0x10, 0xF7}, true, {0xF0, 0x10, 0xF7}},
        {{0xF0, 0x10}, true, {0xF0, 0x10, 0xF7}},
        {{0x10, 0xF7}, true, {0xF0, 0x10, 0xF7}},
        {{0x10, 0x20}, false, {0x10, 0x20}},
        {{}, true, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(FrameChunk(c.in.data(), static_cast<std::uint32_t>(c.in.size()), c.chunks), c.out);
    EXPECT_EQ(PauseMs(-5), 0u);
    EXPECT_EQ(PauseMs(250), 250u);
}

}  // namespace
