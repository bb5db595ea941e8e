// Port settings records, name lists, truth values and decimal numbers.

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

#include "PortSettings.h"

namespace {

using Names = std::set<std::string>;

struct SettingsCase {
    const char* name;
    std::vector<std::string> records;
    PortSettings expected;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

PortSettings With(Names names, std::int32_t ideal = 1024, std::int32_t max = 3072, std::int32_t delay = 200,
                  std::int32_t unprepDelay = 100, bool chunks = true) {
    PortSettings settings;
    settings.names = std::move(names);
    settings.ideal = ideal;
    settings.max = max;
    settings.delay = delay;
    settings.unprepDelay = unprepDelay;
    settings.chunks = chunks;
    return settings;
}

std::vector<SettingsCase> SettingsCases() {
    return {
        {"NoRecords", {}, With({})},
        {"Example", {"win:x:name:Port A$Port B:ideal:512:chunks:no"}, With({"Port A", "Port B"}, 512, 3072, 200, 100, false)},
        {"AllKeys", {"win:x:ideal:1:max:2:delay:3:unprepdelay:4:chunks:0"}, With({}, 1, 2, 3, 4, false)},
        {"PlatformOnly", {"win"}, With({})},
        {"EmptySecondField", {"win::delay:7"}, With({}, 1024, 3072, 7)},
        {"PlatformAndFreeText", {"win:x"}, With({})},
        {"OtherPlatform", {"mac:x:ideal:100"}, With({})},
        {"PlatformInCapitals", {"WIN:x:ideal:100"}, With({})},
        {"Empty", {""}, With({})},
        {"LeadingColon", {":win:ideal:100"}, With({})},
        {"NotANumber", {"win:x:ideal:abc"}, With({}, 0)},
        {"SpaceBeforeDigits", {"win:x:ideal: 256"}, With({}, 256)},
        {"DigitsThenText", {"win:x:ideal:256bytes"}, With({}, 256)},
        {"Negative", {"win:x:delay:-5"}, With({}, 1024, 3072, -5)},
        {"Clamped", {"win:x:max:99999999999"}, With({}, 1024, std::numeric_limits<std::int32_t>::max())},
        {"EmptyName", {"win:x:name:A$$B"}, With({"A", "", "B"})},
        {"TrailingDollar", {"win:x:name:A$"}, With({"A"})},
        {"LeadingDollar", {"win:x:name:$A"}, With({"", "A"})},
        {"EmptyNameValue", {"win:x:name:"}, With({})},
        {"KeysAreCaseSensitive", {"win:x:IDEAL:100:Name:Q"}, With({})},
        {"KeyWithSpace", {"win:x: ideal:100"}, With({})},
        {"ColonEndsAName", {"win:x:name:A:B"}, With({"A"})},
        {"DanglingKey", {"win:x:ideal:10:max"}, With({}, 10)},
        {"TrailingColonAfterKey", {"win:x:ideal:"}, With({})},
        {"UnknownKeySkipsItsValue", {"win:x:speed:ideal:ideal:9"}, With({}, 9)},
        {"NamesKeepSpacesAndZeroBytes", {std::string("win:x:name: A \0B", 16)}, With({std::string(" A \0B", 5)})},
        {"RecordsAccumulate", {"win:x:name:A", "win:x:name:B:ideal:2048"}, With({"A", "B"}, 2048)},
        {"LaterValueWins", {"win:x:delay:1:delay:2", "win:y:delay:3"}, With({}, 1024, 3072, 3)},
        {"DuplicateNamesOnce", {"win:x:name:A$A", "win:x:name:A"}, With({"A"})},
    };
}

class PortSettingsParsing : public testing::TestWithParam<SettingsCase> {};

void ExpectSame(const PortSettings& settings, const PortSettings& expected) {
    EXPECT_EQ(settings.names, expected.names);
    EXPECT_EQ(settings.ideal, expected.ideal);
    EXPECT_EQ(settings.max, expected.max);
    EXPECT_EQ(settings.delay, expected.delay);
    EXPECT_EQ(settings.unprepDelay, expected.unprepDelay);
    EXPECT_EQ(settings.chunks, expected.chunks);
}

TEST_P(PortSettingsParsing, AppliesRecordsOverDefaults) {
    PortSettings settings = DefaultPortSettings;
    for (const std::string& record : GetParam().records) ParsePortSettings(settings, record);
    ExpectSame(settings, GetParam().expected);
}

// The record that unpack writes for settings gives them back, whatever values they hold; only an
// empty name is lost, as no record can carry one on its own.
TEST_P(PortSettingsParsing, TheWrittenRecordReadsBackAsTheSameSettings) {
    PortSettings expected = GetParam().expected;
    PortSettings settings = DefaultPortSettings;
    ParsePortSettings(settings, SettingsRecord(expected, "Product"));
    expected.names.erase("");
    ExpectSame(settings, expected);
}

INSTANTIATE_TEST_SUITE_P(Records, PortSettingsParsing, testing::ValuesIn(SettingsCases()),
                         [](const testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

TEST(SettingsRecord, LeavesOutTheProductNameAloneAndNamesNoRecordCanCarry) {
    const std::string pacing = ":ideal:1024:max:3072:delay:200:unprepdelay:100:chunks:yes";
    EXPECT_EQ(SettingsRecord(With({"Pad"}), "Pad"), "win:unpacked" + pacing);
    EXPECT_EQ(SettingsRecord(With({"Pad", "Pad 2"}), "Pad"), "win:unpacked:name:Pad$Pad 2" + pacing);
    EXPECT_EQ(SettingsRecord(With({"A:B", "C$D", "E"}), "Pad"), "win:unpacked:name:E" + pacing);
}

TEST(PortSettingsParsing, DefaultsAreTheBuiltInValues) {
    EXPECT_TRUE(DefaultPortSettings.names.empty());
    EXPECT_EQ(DefaultPortSettings.ideal, 1024);
    EXPECT_EQ(DefaultPortSettings.max, 3072);
    EXPECT_EQ(DefaultPortSettings.delay, 200);
    EXPECT_EQ(DefaultPortSettings.unprepDelay, 100);
    EXPECT_TRUE(DefaultPortSettings.chunks);
}

TEST(NameList, SplitsAtDollarsAndAddsToTheSet) {
    const struct {
        std::string text;
        Names expected;
    } cases[] = {
        {"", {}},
        {"A", {"A"}},
        {"$", {""}},
        {"$$", {""}},
        {"B$A", {"A", "B"}},
        {"a$A", {"A", "a"}},
        {"Port 1: In$Port 2", {"Port 1: In", "Port 2"}},
    };
    for (const auto& c : cases) {
        Names names;
        ParseNameList(names, c.text);
        EXPECT_EQ(names, c.expected) << c.text;
    }
    Names existing = {"Kept"};
    ParseNameList(existing, "New$Kept");
    EXPECT_EQ(existing, (Names{"Kept", "New"}));
}

TEST(ParseBool, TruthValues) {
    const struct {
        std::string value;
        bool expected;
    } cases[] = {
        {"yes", true},   {"YES", true},    {"True", true},  {"tRuE", true}, {"1", true},    {"7", true},
        {"-1", true},    {" 3", true},     {"2x", true},    {"no", false},  {"false", false}, {"0", false},
        {"off", false},  {"", false},      {"yes ", false}, {" yes", false}, {"y", false},  {"0x1", false},
        {"00", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseBool(c.value), c.expected) << '"' << c.value << '"';
}

TEST(ParseDecimal, ReadsLeadingNumberAndClamps) {
    const std::int32_t maxValue = std::numeric_limits<std::int32_t>::max();
    const std::int32_t minValue = std::numeric_limits<std::int32_t>::min();
    const struct {
        std::string value;
        std::int32_t expected;
    } cases[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {" \t\n\v\f\r17", 17},
        {"12abc", 12},
        {"1 2", 1},
        {std::string("5\0" "6", 3), 5},
        {"", 0},
        {"-", 0},
        {"+-1", 0},
        {"abc", 0},
        {"- 1", 0},
        {"2147483647", maxValue},
        {"2147483648", maxValue},
        {"99999999999999999999999999", maxValue},
        {"-2147483648", minValue},
        {"-2147483649", minValue},
        {"-99999999999999999999999999", minValue},
        {"000000000000000000000000123", 123},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.value), c.expected) << '"' << c.value << '"';
}

}  // namespace
