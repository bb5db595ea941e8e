// Help texts, usage errors, the description of portion content, and unpack.

#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"

namespace {

TEST(Help, EveryCommandExplainsItselfAndAUsageErrorShowsOnlyItsCommand) {
    for (const char* command : {"info", "pack", "unpack", "send", "ports", "simulate"}) {
        const CliRun viaHelp = RunMidiUpdate({"help", command});
        EXPECT_EQ(viaHelp.status, 0) << command;
        EXPECT_NE(viaHelp.out.find(std::string("usage: midiupdate ") + command), std::string::npos);
        EXPECT_NE(viaHelp.out.find("exit status:"), std::string::npos);
        EXPECT_EQ(RunMidiUpdate({command, "--help"}).out, viaHelp.out) << command;
    }
    EXPECT_NE(RunMidiUpdate({"help", "pack"}).out.find("unprepdelay"), std::string::npos);
    EXPECT_NE(RunMidiUpdate({"help", "send"}).out.find("install:N"), std::string::npos);
    EXPECT_EQ(RunMidiUpdate({"help", "frobnicate"}).status, 2);

    const CliRun bad = RunMidiUpdate({"info", "--xml", "a.upd"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "midiupdate: unknown option for info: --xml\nSee 'midiupdate help info' for its options.\n");
    EXPECT_EQ(bad.err.find("midiupdate pack"), std::string::npos);
}

TEST(Info, DescribesWhatEachPortionHolds) {
    TempDir dir;
    UpdateFileContents c;
    c.productName = "Pad";
    c.version = {1, 5};
    c.portions.push_back({{0xF0, 0x41, 0x01, 0xF7, 0xF0, 0x41, 0x02, 0xF7}, 0});
    c.portions.push_back({{0x01, 0xF0, 0x00, 0x20, 0x33, 0x90}, 0});
    const std::string path = dir.WriteUpdate("c.upd", c);

    const CliRun text = RunMidiUpdate({"info", path});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("#1  8 bytes (8 bytes), pause 0 ms; 2 SysEx messages, manufacturer 41\n"),
              std::string::npos) << text.out;
    EXPECT_NE(text.out.find("warning: 1 byte outside SysEx messages"), std::string::npos);
    EXPECT_NE(text.out.find("warning: 1 message without F7"), std::string::npos);

    const CliRun json = RunMidiUpdate({"info", "--json", path});
    EXPECT_NE(json.out.find("\"messages\": 2, \"manufacturers\": [\"41\"], \"warnings\": []"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"messages\": 0, \"manufacturers\": [], \"warnings\": [\"1 byte outside SysEx "
                            "messages\", \"1 data byte of 0x80 or above inside SysEx messages\", \"1 message "
                            "without F7\"]"),
              std::string::npos) << json.out;
}

TEST(Unpack, ThePartsItWritesPackBackIntoAnEquivalentFile) {
    TempDir dir;
    UpdateFileContents c;
    c.productName = "Caf\xE9 Pad";
    c.version = {2, 7};
    c.message = "Hold SHIFT.\nThen power on.";
    c.image = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3};
    c.portSettings = {"win:x:name:Pad A$Pad B:ideal:512:delay:-5:chunks:no"};
    c.macNames = {"Pad A Mac$Pad B Mac"};
    c.portions.push_back({SysExMessage(10), 0});
    c.portions.push_back({SysExMessage(20, 0x22), 1500});
    const std::string original = dir.WriteUpdate("a.upd", c);
    const std::string parts = dir.File("parts");

    const CliRun unpacked = RunMidiUpdate({"unpack", original, "-o", parts});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    for (const char* name : {"portion-1.syx", "portion-2.syx", "image.png", "port-settings.txt"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(parts) / name)) << name;
    EXPECT_NE(unpacked.out.find("portion-2.syx@1500"), std::string::npos) << unpacked.out;
    EXPECT_NE(unpacked.out.find("--message 'Hold SHIFT.\\nThen power on.'"), std::string::npos);
    EXPECT_NE(unpacked.out.find("--mac-names 'Pad A Mac$Pad B Mac'"), std::string::npos) << unpacked.out;

    // What the printed command does, with the settings text read from its file.
    const std::vector<std::uint8_t> settings = ReadBytes(parts + "/port-settings.txt");
    const std::string rebuilt = dir.File("rebuilt.upd");
    const CliRun packed = RunMidiUpdate(
        {"pack", "-o", rebuilt, "--product", "Caf\xC3\xA9 Pad", "--version", "2.07", "--message",
         "Hold SHIFT.\\nThen power on.", "--image", parts + "/image.png", "--port-settings",
         std::string(settings.begin(), settings.end()), "--mac-names", "Pad A Mac$Pad B Mac", "--portion",
         parts + "/portion-1.syx@0", "--portion", parts + "/portion-2.syx@1500"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(RunMidiUpdate({"info", "--json", rebuilt}).out, RunMidiUpdate({"info", "--json", original}).out);
}

}  // namespace

TEST(Pack, RefusesATextThatCodePage1252CannotHold) {
    TempDir dir;
    const std::string syx = dir.Write("p.syx", SysExMessage(10));
    const std::string out = dir.File("x.upd");
    for (const char* option : {"--product", "--message", "--port-settings", "--mac-names"}) {
        std::vector<std::string> args = {"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", syx};
        args.push_back(option);
        args.push_back("Arrow \xE2\x86\x92");
        const CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, 2) << option;
        EXPECT_NE(run.err.find(std::string(option) + ": the character U+2192"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}
