// Telling raw SysEx files from update files, the raw reader, and the derived values.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "UpdateFileBuilder.h"

namespace {

struct DetectionCase {
    const char* name;
    std::string bytes;
    bool raw;
};

void PrintTo(const DetectionCase& c, std::ostream* os) { *os << c.name; }

std::string Filled(std::size_t size, char fill) { return std::string(size, fill); }

std::vector<DetectionCase> DetectionCases() {
    return {
        {"Empty", "", false},
        {"StartOnly", "\xF0", false},
        {"StartWithoutEnd", "\xF0\x7E\x01", false},
        {"StartThenEnd", "\xF0\xF7", true},
        {"EndFirst", "\xF7\xF0", false},
        {"EndLater", "\xF0\x01\x02\xF7\x00", true},
        {"LeadingZero", std::string("\0\xF0\xF7", 3), false},
        {"UpdateFile", Header().Portion({0xF0, 0xF7}, 0).Str(), false},
        // The scan works in blocks: an end byte at or beyond a block's edge must still be found.
        {"EndAtBlockEdge", "\xF0" + Filled(65535, '\x01') + "\xF7", true},
        {"EndInSecondBlock", "\xF0" + Filled(65536, '\x01') + "\xF7", true},
        {"EndFarAway", "\xF0" + Filled(300000, '\x01') + "\xF7", true},
        {"LongWithoutEnd", "\xF0" + Filled(200000, '\x01'), false},
    };
}

class RawDetection : public testing::TestWithParam<DetectionCase> {};

TEST_P(RawDetection, DecidesByContentAndRewinds) {
    std::stringstream stream = BinaryStream(GetParam().bytes);
    EXPECT_EQ(IsRawSysExFile(stream), GetParam().raw);
    EXPECT_TRUE(stream.good());
    EXPECT_EQ(stream.tellg(), std::streampos(0));
}

INSTANTIATE_TEST_SUITE_P(Files, RawDetection, testing::ValuesIn(DetectionCases()),
                         [](const testing::TestParamInfo<DetectionCase>& info) { return std::string(info.param.name); });

// A stream that has failed delivers nothing: it must not be cleared and read on.
TEST(RawDetection, FailedStreamIsNotRawAndLoadsAsABadHeader) {
    for (const std::string& bytes : {std::string("\xF0\xF7"), Header().Portion({0xF7}, 0).Str()}) {
        std::stringstream stream = BinaryStream(bytes);
        stream.setstate(std::ios::failbit);
        EXPECT_FALSE(IsRawSysExFile(stream));
        EXPECT_TRUE(stream.fail());
        try {
            Update update(stream);
            ADD_FAILURE() << "loaded a failed stream";
        } catch (const ParseError& error) {
            EXPECT_STREQ(error.what(), "Update file was invalid (bad header).");
        }
    }
}

// Input that cannot seek (a pipe) is read into memory and loads like the same bytes from a file.
TEST(UnseekableInput, LoadsLikeAFile) {
    const std::string raw = std::string("\xF0\x01\xF7\xF0\x02\xF7\x42", 7);
    const std::string upd = Header("Piped", 2, 1).Settings("win:x:ideal:64").Portion({0xF0, 0xF7}, 9).Str();
    for (const std::string& bytes : {raw, upd, std::string("\xF0") + std::string(70000, '\x01') + "\xF7"}) {
        ScriptedStreamBuf buffer(bytes, /*seekable=*/false);
        std::istream pipe(&buffer);
        const Update piped(pipe);
        const Update file = Load(bytes);
        EXPECT_EQ(piped.isRawSysEx, file.isRawSysEx);
        EXPECT_EQ(piped.productName, file.productName);
        EXPECT_EQ(piped.version, file.version);
        EXPECT_EQ(piped.winPort.ideal, file.winPort.ideal);
        ASSERT_EQ(piped.portions.size(), file.portions.size());
        EXPECT_EQ(piped.portions[0].data, file.portions[0].data);
    }
}

TEST(UnseekableInput, RejectsLikeAFile) {
    for (const std::string& bytes : {std::string(), std::string("\xF0\x01"), Header().Str().substr(0, 20),
                                     FileBytes(Header()).U32(1).U32(5).Raw("\xF0").Str()}) {
        ScriptedStreamBuf buffer(bytes, /*seekable=*/false);
        std::istream pipe(&buffer);
        std::string outcome = "<loaded>";
        try {
            Update update(pipe);
        } catch (const ParseError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, LoadError(bytes)) << testing::PrintToString(bytes);
        EXPECT_NE(outcome, "<loaded>");
    }
}

TEST(RawSysExReader, ThreeMessagesAndTrailingBytesBecomeOnePortion) {
    const std::string file = std::string("\xF0\x01\x02\xF7", 4) + std::string("\xF0\x7E\x7F\x06\x01\xF7", 6) +
                             std::string("\xF0\x00\xF7", 3) + std::string("\x0A\x00", 2);
    const Update update = Load(file);

    EXPECT_TRUE(update.isRawSysEx);
    EXPECT_EQ(update.productName, "<SysEx Update Device>");
    EXPECT_EQ(update.version, (FirmwareVersion{0, 0}));
    EXPECT_EQ(update.message, DefaultUpdateMessage);
    EXPECT_TRUE(update.winPort.names.empty());
    EXPECT_EQ(update.winPort.ideal, 1024);
    EXPECT_TRUE(update.image.empty());
    ASSERT_EQ(update.portions.size(), 1u);
    EXPECT_EQ(update.portions[0].data, ToBytes(file));
    EXPECT_EQ(update.portions[0].delay, 0u);
    EXPECT_EQ(TotalSysExSize(update), file.size());
}

TEST(RawSysExReader, FileDeliveringLessThanItsSizeIsRejected) {
    ScriptedStreamBuf buffer("\xF0\x01\x02\xF7", /*seekable=*/true, /*claimedSize=*/10);
    std::istream stream(&buffer);
    Update update;
    try {
        ReadSysExFile(stream, update);
        FAIL() << "loaded a short file";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "Failed to load all of the sysex file. (Got:4 was;10)");
    }
}

// Which reader applies is decided by what a file holds, never by its name.
TEST(RawSysExReader, FileNamesDoNotDecideTheReader) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path rawNamedUpd = dir / "midiupdate_update_tests_raw.upd";
    const std::filesystem::path updNamedSyx = dir / "midiupdate_update_tests_update.syx";
    std::ofstream(rawNamedUpd, std::ios::binary) << "\xF0\x01\xF7";
    std::ofstream(updNamedSyx, std::ios::binary) << Header("Named").Str();

    std::ifstream raw(rawNamedUpd, std::ios::binary);
    std::ifstream upd(updNamedSyx, std::ios::binary);
    const Update fromRaw(raw);
    const Update fromUpd(upd);
    EXPECT_TRUE(fromRaw.isRawSysEx);
    EXPECT_EQ(fromRaw.portions.at(0).data, (ByteVector{0xF0, 0x01, 0xF7}));
    EXPECT_FALSE(fromUpd.isRawSysEx);
    EXPECT_EQ(fromUpd.productName, "Named");

    raw.close();
    upd.close();
    std::filesystem::remove(rawNamedUpd);
    std::filesystem::remove(updNamedSyx);
}

TEST(RawSysExReader, FileThatCannotBeOpenedIsABadHeader) {
    std::ifstream missing(std::filesystem::temp_directory_path() / "midiupdate_no_such_dir" / "missing.upd",
                          std::ios::binary);
    try {
        Update update(missing);
        FAIL() << "loaded a missing file";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "Update file was invalid (bad header).");
    }
}

TEST(VersionText, FormatsMinorWithAtLeastTwoDigits) {
    const struct {
        FirmwareVersion version;
        const char* text;
    } cases[] = {
        {{1, 5}, "1.05"}, {{0, 0}, "0.00"}, {{4, 2}, "4.02"}, {{2, 10}, "2.10"},
        {{2, 123}, "2.123"}, {{65535, 65535}, "65535.65535"},
    };
    for (const auto& c : cases) EXPECT_EQ(VersionText(c.version), c.text);
}

TEST(TotalSysExSize, SumsEveryPortion) {
    Update update;
    EXPECT_EQ(TotalSysExSize(update), 0u);
    update.portions.push_back({ByteVector(3), 0});
    update.portions.push_back({ByteVector(), 100});
    update.portions.push_back({ByteVector(1000), 0});
    EXPECT_EQ(TotalSysExSize(update), 1003u);
}

}  // namespace

// Every size and total of an update is a 32-bit count: one byte more would wrap to a small size.
TEST(FileSizeRule, TheLargestFileThatLoadsIsFourGiBLessOneByte) {
    const struct {
        std::uint64_t size;
        bool fits;
    } cases[] = {
        {0, true},
        {0xFFFFFFFFull, true},
        {0x100000000ull, false},
        {0x100000000ull + 100, false},
        {~0ull, false},
    };
    for (const auto& c : cases) EXPECT_EQ(FitsUpdateSize(c.size), c.fits) << c.size;
}
