// Writing update files, checked against the reader and against the format's bytes.

#include <gtest/gtest.h>

#include <stdexcept>

#include "UpdateFileBuilder.h"

namespace {

std::string Write(const UpdateFileContents& contents) {
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    WriteUpdateFile(stream, contents);
    return stream.str();
}

TEST(UpdateWriter, WritesTheFiftyTwoByteExample) {
    UpdateFileContents contents;
    contents.productName = "ABC";
    contents.version = {1, 5};
    contents.portions.push_back({{0xF0, 0x7E, 0xF7}, 1000});
    EXPECT_EQ(Write(contents), Header("ABC", 1, 5, "").Portion({0xF0, 0x7E, 0xF7}, 1000).Str());
}

TEST(UpdateWriter, RecordsFollowTheHeaderInFixedOrder) {
    UpdateFileContents contents;
    contents.productName = "P";
    contents.message = "a\nb";
    contents.image = {9, 8};
    contents.portSettings = {"win:x:ideal:1", "win:y"};
    contents.macNames = {"M"};
    contents.portions = {{{0xF7}, 1}, {{}, 2}};
    const std::string expected = Header("P", 0, 0, "a\\nb")
                                     .Settings("win:x:ideal:1")
                                     .Settings("win:y")
                                     .MacNames("M")
                                     .Image({9, 8})
                                     .Portion({0xF7}, 1)
                                     .Portion({}, 2)
                                     .Str();
    EXPECT_EQ(Write(contents), expected);
}

TEST(UpdateWriter, RoundTripKeepsEveryField) {
    UpdateFileContents contents;
    contents.productName = std::string("Desk\0Synth", 10);
    contents.version = {3, 141};
    contents.message = "First line.\nSecond line with a backslash \\ and\n\nan ending\\\n";
    contents.image = ByteVector(5000);
    for (std::size_t i = 0; i < contents.image.size(); ++i) contents.image[i] = static_cast<std::uint8_t>(i);
    contents.portSettings = {"win:x:name:Out A$Out B:ideal:2048", "win:y:chunks:false:delay:10"};
    contents.macNames = {"Mac A$Mac B"};
    contents.portions = {{{0xF0, 0x01, 0xF7}, 0}, {ByteVector(70000, 0x55), 3000}, {{}, 7}};

    const Update update = Load(Write(contents));

    EXPECT_FALSE(update.isRawSysEx);
    EXPECT_EQ(update.productName, contents.productName);
    EXPECT_EQ(update.version, contents.version);
    EXPECT_EQ(update.message, contents.message);
    EXPECT_EQ(update.image, contents.image);
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Out A", "Out B"}));
    EXPECT_EQ(update.winPort.ideal, 2048);
    EXPECT_EQ(update.winPort.delay, 10);
    EXPECT_FALSE(update.winPort.chunks);
    ASSERT_EQ(update.portions.size(), contents.portions.size());
    for (std::size_t i = 0; i < contents.portions.size(); ++i) {
        EXPECT_EQ(update.portions[i].data, contents.portions[i].data) << "portion " << i;
        EXPECT_EQ(update.portions[i].delay, contents.portions[i].delay) << "portion " << i;
    }
}

TEST(UpdateWriter, RejectsABackslashFollowedByN) {
    for (const std::string message : {"C:\\new", "\\n", "text\\\\n"}) {
        UpdateFileContents contents;
        contents.productName = "P";
        contents.message = message;
        std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
        try {
            WriteUpdateFile(stream, contents);
            ADD_FAILURE() << "accepted " << message;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find("backslash"), std::string::npos) << error.what();
        }
        EXPECT_EQ(stream.str(), "") << "wrote part of a file for " << message;
    }
}

}  // namespace
