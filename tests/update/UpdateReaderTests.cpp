// The update-file reader: header, records, message conventions and every rejection.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UpdateFileBuilder.h"

namespace {

const char kWrongVersion[] =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char kTruncated[] = "Update file was truncated. Did it download correctly?";
const char kTruncatedSysEx[] = "Trucated sysex";
const char kUnrecognised[] =
    "File contains unrecognised data. Please Please check you have the latest version of the updater.";

TEST(UpdateReader, LoadsTheFiftyTwoByteExample) {
    const unsigned char file[] = {
        'Z', 'e', 'l', 'l', 'U', 'p', 'd', 'a', 't', 'e', 'F', 'i', 'l', 'e',  // magic
        0x04, 0x00,                                                          // format 4
        0x03, 0x00, 0x00, 0x00, 'A', 'B', 'C',                               // product
        0x01, 0x00, 0x05, 0x00,                                              // 1.05
        0x00, 0x00, 0x00, 0x00,                                              // empty message
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                                  // reserved
        0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xF0, 0x7E, 0xF7,    // portion
        0xE8, 0x03, 0x00, 0x00,                                              // delay 1000
    };
    ASSERT_EQ(sizeof file, 52u);
    const Update update = Load(std::string(reinterpret_cast<const char*>(file), sizeof file));

    EXPECT_FALSE(update.isRawSysEx);
    EXPECT_EQ(update.productName, "ABC");
    EXPECT_EQ(update.version, (FirmwareVersion{1, 5}));
    EXPECT_EQ(update.message, "");
    ASSERT_EQ(update.portions.size(), 1u);
    EXPECT_EQ(update.portions[0].data, (ByteVector{0xF0, 0x7E, 0xF7}));
    EXPECT_EQ(update.portions[0].delay, 1000u);
    EXPECT_TRUE(update.image.empty());
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"ABC"}));
    EXPECT_EQ(update.winPort.ideal, 1024);
    EXPECT_EQ(update.winPort.max, 3072);
    EXPECT_EQ(update.winPort.delay, 200);
    EXPECT_EQ(update.winPort.unprepDelay, 100);
    EXPECT_TRUE(update.winPort.chunks);
}

TEST(UpdateReader, HeaderOnlyLoadsWithDefaults) {
    const Update update = Load(Header("Synth", 4, 2).Str());
    EXPECT_EQ(update.productName, "Synth");
    EXPECT_EQ(VersionText(update.version), "4.02");
    EXPECT_TRUE(update.portions.empty());
    EXPECT_TRUE(update.image.empty());
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Synth"}));
    EXPECT_EQ(update.winPort.ideal, DefaultPortSettings.ideal);
}

struct RejectionCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

void PrintTo(const RejectionCase& c, std::ostream* os) { *os << c.name; }

std::vector<RejectionCase> RejectionCases() {
    const std::string magic = "ZellUpdateFile";
    return {
        {"EmptyFile", "", kBadHeaderText},
        {"TwelveBytes", magic.substr(0, 12), kBadHeaderText},
        {"WrongMagic", FileBytes().Raw("ZellUpdateFilf").U16(4).Str(), kBadHeaderText},
        {"MagicInOtherCase", FileBytes().Raw("zellupdatefile").U16(4).Str(), kBadHeaderText},
        {"StartsWithF0WithoutF7", "\xF0\x01\x02\x03", kBadHeaderText},
        {"MagicOnly", magic, kWrongVersion},
        {"FifteenBytes", magic + std::string(1, '\x04'), kWrongVersion},
        {"Version3", FileBytes().Raw(magic).U16(3).Str(), kWrongVersion},
        {"Version5", FileBytes().Raw(magic).U16(5).Str(), kWrongVersion},
        {"VersionBigEndian", FileBytes().Raw(magic).U16(0x0400).Str(), kWrongVersion},
        {"Tag0", FileBytes(Header()).U32(0).Str(), kUnrecognised},
        {"Tag4", FileBytes(Header()).U32(4).Str(), kUnrecognised},
        {"Tag6", FileBytes(Header()).U32(6).Str(), kUnrecognised},
        {"TagAllOnes", FileBytes(Header()).U32(0xFFFFFFFF).Str(), kUnrecognised},
        {"TagAfterGoodRecords", FileBytes(Header()).Portion({0xF0, 0xF7}, 0).U32(4).Str(), kUnrecognised},
        {"PortionDataShort", FileBytes(Header()).U32(1).U32(3).Raw("\xF0\x7E").Str(), kTruncatedSysEx},
        {"PortionDelayMissing", FileBytes(Header()).U32(1).U32(1).Raw("\xF0").Str(), kTruncatedSysEx},
        {"PortionDelayShort", FileBytes(Header()).U32(1).U32(1).Raw("\xF0").Raw("\xE8\x03").Str(), kTruncatedSysEx},
    };
}

class UpdateRejection : public testing::TestWithParam<RejectionCase> {};

TEST_P(UpdateRejection, ThrowsItsMessage) { EXPECT_EQ(LoadError(GetParam().bytes), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Files, UpdateRejection, testing::ValuesIn(RejectionCases()),
                         [](const testing::TestParamInfo<RejectionCase>& info) { return std::string(info.param.name); });

// Cutting a header anywhere must give the message of the field it was cut in.
TEST(UpdateReader, HeaderCutAtEveryLength) {
    const std::string header = Header("Name", 2, 7, "Hi").Str();
    for (std::size_t length = 0; length < header.size(); ++length) {
        const std::string expected = length < 14 ? kBadHeaderText : length < 16 ? kWrongVersion : kTruncated;
        EXPECT_EQ(LoadError(header.substr(0, length)), expected) << "cut after " << length << " bytes";
    }
    EXPECT_EQ(LoadError(header), "<loaded>");
}

TEST(UpdateReader, HeaderTextLongerThanTheFileIsTruncated) {
    EXPECT_EQ(LoadError(FileBytes().Raw("ZellUpdateFile").U16(4).U32(100).Raw("ABC").Str()), kTruncated);
    EXPECT_EQ(LoadError(FileBytes().Raw("ZellUpdateFile").U16(4).String("A").U16(1).U16(0).U32(9).Raw("Hi").Str()),
              kTruncated);
}

TEST(UpdateReader, PartialTrailingTagIsIgnored) {
    const FileBytes complete = FileBytes(Header()).Portion({0xF0, 0x01, 0xF7}, 5);
    for (std::size_t extra = 1; extra <= 3; ++extra) {
        const Update update = Load(complete.Str() + std::string("\x01\x00\x00", extra));
        ASSERT_EQ(update.portions.size(), 1u) << extra << " trailing bytes";
        EXPECT_EQ(update.portions[0].data, (ByteVector{0xF0, 0x01, 0xF7}));
        EXPECT_EQ(update.portions[0].delay, 5u);
    }
}

// A download cut short anywhere after a record's tag is refused: the portion with its own
// message, every other record as a truncated file. Only a cut inside the tag itself loads.
struct RecordCutCase {
    const char* name;
    std::string record;   // the whole record, tag included
    std::string expected; // when cut anywhere after its tag
};

TEST(UpdateReader, RecordCutAtEveryLengthAfterItsTagIsRefused) {
    const RecordCutCase cases[] = {
        {"Portion", FileBytes().Portion({0xF0, 0x01, 0x02, 0xF7}, 1000).Str(), kTruncatedSysEx},
        {"EmptyPortion", FileBytes().Portion({}, 7).Str(), kTruncatedSysEx},
        {"Image", FileBytes().Image({1, 2, 3}).Str(), kTruncated},
        {"Settings", FileBytes().Settings("win:x:max:1024").Str(), kTruncated},
        {"MacNames", FileBytes().MacNames("A$B").Str(), kTruncated},
    };
    const std::string before = FileBytes(Header()).Portion({0xF7}, 3).Str();
    for (const RecordCutCase& c : cases) {
        for (std::size_t length = 0; length <= c.record.size(); ++length) {
            const std::string file = before + c.record.substr(0, length);
            const std::string expected = length < 4 ? "<loaded>" : length < c.record.size() ? c.expected : "<loaded>";
            EXPECT_EQ(LoadError(file), expected) << c.name << " cut after " << length << " bytes";
        }
    }
}

TEST(UpdateReader, SettingsTextCutShortSetsNothing) {
    // "max:1024" cut after "max:1" would have set max to 1.
    const std::string record = FileBytes().Settings("win:x:max:1024").Str();
    const std::string cut = FileBytes(Header()).Str() + record.substr(0, record.size() - 3);
    EXPECT_EQ(LoadError(cut), kTruncated);
    EXPECT_EQ(Load(FileBytes(Header()).Str() + record).winPort.max, 1024);
}

TEST(UpdateReader, UnrecognisedTagNamesTheSourceLineOnStandardError) {
    testing::internal::CaptureStderr();
    const std::string error = LoadError(FileBytes(Header()).U32(4).Str());
    const std::string line = testing::internal::GetCapturedStderr();

    EXPECT_EQ(error, kUnrecognised);
    const std::string prefix = "MidiUpdateLib/Update.cpp:";
    ASSERT_GT(line.size(), prefix.size() + 1) << line;
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(line.back(), '\n');
    const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    EXPECT_FALSE(number.empty());
    for (char c : number) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << line;
}

TEST(UpdateReader, KnownTagsWriteNothingToStandardError) {
    testing::internal::CaptureStderr();
    Load(FileBytes(Header()).Portion({0xF7}, 0).Image({1}).Settings("win:x").MacNames("A").Str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(UpdateReader, ZeroBytesInTextsAreKept) {
    const std::string product("A\0B", 3);
    const std::string message("x\0\0y", 4);
    const Update update = Load(Header(product, 1, 0, message).Str());
    EXPECT_EQ(update.productName, product);
    EXPECT_EQ(update.message, message);
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{product}));
}

struct MessageCase {
    std::string stored;
    std::string loaded;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << testing::PrintToString(c.stored); }

class MessageDecoding : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageDecoding, BackslashNBecomesALineFeed) {
    EXPECT_EQ(Load(Header("P", 1, 0, GetParam().stored).Str()).message, GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageDecoding,
                         testing::Values(MessageCase{"", ""},
                                         MessageCase{"one\\ntwo", "one\ntwo"},
                                         MessageCase{"\\n\\n", "\n\n"},
                                         MessageCase{"\\\\n", "\\\n"},
                                         MessageCase{"\\\\\\n", "\\\\\n"},
                                         MessageCase{"ends in \\", "ends in \\"},
                                         MessageCase{"\\N and \\t", "\\N and \\t"},
                                         MessageCase{"n\\", "n\\"},
                                         MessageCase{"<sysex>", DefaultUpdateMessage},
                                         MessageCase{"<SYSEX>", "<SYSEX>"},
                                         MessageCase{"<sysex> ", "<sysex> "},
                                         MessageCase{"<sysex>\\n", "<sysex>\n"}));

TEST(UpdateReader, DefaultMessageIsTheFixedText) {
    EXPECT_EQ(DefaultUpdateMessage.size(), 315u);
    EXPECT_EQ(DefaultUpdateMessage.substr(0, 28), "To apply this update file, p");
    EXPECT_NE(DefaultUpdateMessage.find("User's Manual"), std::string::npos);
    EXPECT_EQ(DefaultUpdateMessage.back(), '\n');
}

TEST(UpdateReader, ImageRecordsAreConcatenatedInOrder) {
    ByteVector first(10, 0x11);
    ByteVector second(20, 0x22);
    const Update update = Load(FileBytes(Header()).Image(first).Portion({0xF7}, 0).Image(second).Str());
    ByteVector expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(update.image, expected);
}

TEST(UpdateReader, PortionsKeepFileOrderAndEmptyPortionsCount) {
    const Update update =
        Load(FileBytes(Header()).Portion({0xF0, 0x01, 0xF7}, 10).Portion({}, 250).Portion({0xF0, 0x02, 0xF7}, 0).Str());
    ASSERT_EQ(update.portions.size(), 3u);
    EXPECT_EQ(update.portions[0].data, (ByteVector{0xF0, 0x01, 0xF7}));
    EXPECT_EQ(update.portions[0].delay, 10u);
    EXPECT_TRUE(update.portions[1].data.empty());
    EXPECT_EQ(update.portions[1].delay, 250u);
    EXPECT_EQ(update.portions[2].data, (ByteVector{0xF0, 0x02, 0xF7}));
    EXPECT_EQ(TotalSysExSize(update), 6u);
}

TEST(UpdateReader, PortionDataIsNotInterpreted) {
    // Not SysEx at all, and holding bytes that look like tags: still carried unchanged.
    const ByteVector data = {0x04, 0x00, 0x00, 0x00, 0x0A, 0x00, 0xFF};
    EXPECT_EQ(Load(FileBytes(Header()).Portion(data, 1).Str()).portions.at(0).data, data);
}

TEST(UpdateReader, SettingsRecordsApplyAndMacNamesAreKeptApart) {
    const Update update = Load(FileBytes(Header("Product"))
                                   .MacNames("Mac Port$Other")
                                   .Settings("win:x:name:Port A:ideal:100")
                                   .Settings("mac:x:name:Mac Only:max:1")
                                   .Settings("win::name:Port B:ideal:2048:chunks:no")
                                   .Str());
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Port A", "Port B"}));
    EXPECT_EQ(update.winPort.ideal, 2048);
    EXPECT_EQ(update.winPort.max, 3072);
    EXPECT_FALSE(update.winPort.chunks);
    EXPECT_EQ(update.macNames, (std::set<std::string>{"Mac Port", "Other"}));
}

TEST(UpdateReader, MacNameListsAddUpAndLeaveTheWindowsNamesAlone) {
    const Update update = Load(FileBytes(Header("Product")).MacNames("B$A").MacNames("C").Str());
    EXPECT_EQ(update.macNames, (std::set<std::string>{"A", "B", "C"}));
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Product"}));
}

TEST(UpdateReader, SettingsWithoutNamesStillUseTheProductName) {
    const Update update = Load(FileBytes(Header("Product")).Settings("win:x:delay:5").Str());
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Product"}));
    EXPECT_EQ(update.winPort.delay, 5);
}

TEST(UpdateReader, ConstructorLeavesUpdateFilesMarkedAsNotRaw) {
    // A raw-looking byte inside the header must not matter: only the first byte decides.
    const Update update = Load(Header(std::string("\xF0\xF7", 2)).Str());
    EXPECT_FALSE(update.isRawSysEx);
    EXPECT_EQ(update.productName, std::string("\xF0\xF7", 2));
}

}  // namespace
