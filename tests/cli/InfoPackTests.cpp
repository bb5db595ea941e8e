#include "CliTestSupport.h"
#include "SimulatedDevices.h"

namespace {

// A path as a JSON string holds it: Windows paths have backslashes.
std::string JsonEscaped(const std::string& path) {
    std::string out;
    for (char c : path) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

UpdateFileContents DemoContents() {
    UpdateFileContents c;
    c.productName = "Pad";
    c.version = {1, 5};
    c.message = "Line one\nLine two";
    c.image = {1, 2, 3, 4};
    c.portSettings = {"win:x:name:Pad A$Pad B:ideal:512:delay:-5:chunks:no"};
    c.macNames = {"Pad Mac$Pad Mac 2"};
    c.portions.push_back({SysExMessage(10), 0});
    c.portions.push_back({SysExMessage(20), 1500});
    return c;
}

}  // namespace

TEST(Info, JsonDescribesAnUpdateFileWithExactlyTheAgreedKeys) {
    TempDir dir;
    std::string path = dir.WriteUpdate("a.upd", DemoContents());
    CliRun run = RunMidiUpdate({"info", "--json", path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"kind\": \"update\", \"product\": \"Pad\", \"version\": {\"major\": 1, \"minor\": 5, "
              "\"text\": \"1.05\"}, \"message\": \"Line one\\u000ALine two\", \"image_bytes\": 4, "
              "\"port\": {\"names\": [\"Pad A\", \"Pad B\"], \"ideal\": 512, \"max\": 3072, \"delay\": -5, "
              "\"unprep_delay\": 100, \"chunks\": false, \"whole_messages\": false}, \"mac_names\": [\"Pad Mac\", \"Pad Mac 2\"], \"portions\": [{\"bytes\": 10, \"delay\": 0, "
              "\"messages\": 1, \"manufacturers\": [\"11\"], \"warnings\": [], \"messages_cut\": 0, \"wire_messages\": 1, "
              "\"bytes_added\": 0}, {\"bytes\": 20, \"delay\": 1500, \"messages\": 1, \"manufacturers\": [\"11\"], "
              "\"warnings\": [], \"messages_cut\": 0, \"wire_messages\": 1, \"bytes_added\": 0}], \"total_sysex_bytes\": 30}\n");
    EXPECT_EQ(run.err, "");
}

TEST(Info, JsonWritesTextsAsCodePage1252InUnicode) {
    TempDir dir;
    UpdateFileContents c = DemoContents();
    c.productName = std::string("Q\"\\\x01\x7F\xE9\x80\x81", 8);
    c.message = "";
    std::string path = dir.WriteUpdate("b.upd", c);
    CliRun run = RunMidiUpdate({"info", "--json", path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"product\": \"Q\\\"\\\\\\u0001\\u007F\xC3\xA9\xE2\x82\xAC\\u0081\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"message\": \"\""), std::string::npos);
}

TEST(Info, JsonDescribesARawSysExFileAsOnePortionSentAsItStands) {
    TempDir dir;
    std::vector<std::uint8_t> bytes = SysExMessage(5);
    bytes.push_back(0x42);  // after the last F7: still part of the portion
    std::string path = dir.Write("raw.upd", bytes);
    CliRun run = RunMidiUpdate({"info", "--json", path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"kind\": \"sysex\", \"product\": \"<SysEx Update Device>\", \"version\": {\"major\": 0, "
                            "\"minor\": 0, \"text\": \"0.00\"}, \"message\": \"To apply this update file, ",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find("\"port\": {\"names\": [], \"ideal\": 1024, \"max\": 3072, \"delay\": 200, "
                           "\"unprep_delay\": 100, \"chunks\": false, \"whole_messages\": true}, \"mac_names\": [], "
                           "\"portions\": [{\"bytes\": 6, \"delay\": 0, \"messages\": 1, \"manufacturers\": [\"11\"], "
                           "\"warnings\": [\"1 byte outside SysEx messages\"], \"messages_cut\": 0, \"wire_messages\": 1, "
                           "\"bytes_added\": 0}], "
                           "\"total_sysex_bytes\": 6}"),
              std::string::npos)
        << run.out;
}

TEST(Info, TextOutputNamesEveryPartOfTheFile) {
    TempDir dir;
    std::string path = dir.WriteUpdate("a.upd", DemoContents());
    CliRun run = RunMidiUpdate({"info", path});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* part : {"Kind:        update file", "Product:     Pad", "Version:     1.05", "    Line one",
                             "    Line two", "Image:       4 bytes", "\"Pad A\", \"Pad B\"", "ideal 512, max 3072",
                             "delay -5 ms", "chunks as cut", "#2  20 bytes (20 bytes), pause 1500 ms",
                             "Total SysEx: 30 bytes"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
}

TEST(Info, AFileThatFailsToLoadEndsStandardErrorWithTheLoadersMessage) {
    TempDir dir;
    std::vector<std::uint8_t> magic = {'Z', 'e', 'l', 'l', 'U', 'p', 'd', 'a', 't', 'e', 'F', 'i', 'l', 'e'};
    std::vector<std::uint8_t> wrongVersion = magic;
    wrongVersion.insert(wrongVersion.end(), {3, 0});
    std::vector<std::uint8_t> truncated = magic;
    truncated.insert(truncated.end(), {4, 0, 9, 0, 0, 0, 'A'});
    // The header of a 60-byte file that then declares a 4 GB portion.
    std::vector<std::uint8_t> hugePortion = magic;
    hugePortion.insert(hugePortion.end(), {4, 0, 1, 0, 0, 0, 'P', 1, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    hugePortion.resize(60, 0x11);
    std::vector<std::uint8_t> unknownTag = magic;
    unknownTag.insert(unknownTag.end(), {4, 0, 0, 0, 0, 0, 1, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0});

    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::string message;
    } cases[] = {
        {"short", {1, 2, 3}, kBadHeaderText},
        {"version", wrongVersion,
         "Update file is wrong version. Please check you have the latest version of the updater."},
        {"truncated", truncated, "Update file was truncated. Did it download correctly?"},
        {"huge", hugePortion, "Trucated sysex"},
        {"tag", unknownTag,
         "File contains unrecognised data. Please Please check you have the latest version of the updater."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.Write(c.name + ".upd", c.bytes);
        for (bool json : {false, true}) {
            // The loader writes its own diagnostic line for an unknown record straight to stderr.
            testing::internal::CaptureStderr();
            CliRun run = json ? RunMidiUpdate({"info", "--json", path}) : RunMidiUpdate({"info", path});
            std::string diagnostic = testing::internal::GetCapturedStderr();
            EXPECT_EQ(diagnostic.rfind("MidiUpdateLib/Update.cpp:", 0) == 0, c.name == "tag") << diagnostic;
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, json ? "{\"file\": \"" + JsonEscaped(path) + "\", \"error\": \"" + c.message + "\"}\n" : "");
            EXPECT_EQ(run.LastErrLine(), c.message);
        }
    }
}

TEST(Info, AFileThatCannotBeReadOrIsNoRawSysExSaysWhy) {
    TempDir dir;
    const std::string noise = dir.Write("fw.syx", {0x12, 0x34, 0x56});
    const std::string empty = dir.Write("empty.SYX", {});
    const struct {
        std::string path;
        std::string err;
    } cases[] = {
        {"/nonexistent/file.upd", "midiupdate: could not open '/nonexistent/file.upd': No such file or directory\n"},
        {noise, "midiupdate: could not load '" + noise + "':\n" + std::string(kBadHeaderText) + "\n"
                "midiupdate: a raw SysEx file begins with F0, but '" + noise + "' begins with 12 34 56\n"},
        {empty, "midiupdate: could not load '" + empty + "':\n" + std::string(kBadHeaderText) + "\n"
                "midiupdate: a raw SysEx file begins with F0, and '" + empty + "' is empty\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunMidiUpdate({"info", c.path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err);
    }
}

// A refused file still gives a machine one object: the file as named (valid JSON whatever bytes
// the name holds) and the reason, while the person gets the same reason on standard error.
TEST(Info, JsonForARefusedFileNamesItAndSaysWhy) {
    TempDir dir;
    const std::string noise = dir.Write("fw.syx", {0x12, 0x34, 0x56});
    const struct {
        std::string path, input, json;
    } cases[] = {
        {"/nonexistent/\"q\"\\\xFF\xC3\xA9.upd", "",
         "{\"file\": \"/nonexistent/\\\"q\\\"\\\\\\uFFFD\xC3\xA9.upd\", "
         "\"error\": \"could not open the file: "},
        {noise, "", "{\"file\": \"" + JsonEscaped(noise) + "\", \"error\": \"" + std::string(kBadHeaderText) + "\"}\n"},
        {"-", "nope", "{\"file\": \"-\", \"error\": \"" + std::string(kBadHeaderText) + "\"}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const CliRun run = RunMidiUpdate({"info", "--json", c.path}, c.input);
        EXPECT_EQ(run.status, 1);
        // The whole line, or for a file that cannot be opened its start: the system's reason
        // follows in its own words.
        EXPECT_EQ(run.out.rfind(c.json, 0), 0u) << run.out;
        EXPECT_EQ(run.out.back(), '\n');
        EXPECT_NE(run.err.find("midiupdate: could not "), std::string::npos) << run.err;
    }
}

TEST(Pack, WritesAFileThatLoadsBackAsTheSameRecord) {
    TempDir dir;
    std::string one = dir.Write("one.syx", SysExMessage(8));
    std::string two = dir.Write("two.syx", SysExMessage(12, 0x22));
    std::string image = dir.Write("pic.png", {9, 8, 7});
    std::string out = dir.File("made.upd");
    CliRun run = RunMidiUpdate({"pack", "-o", out, "--product", "Pad", "--version", "2.07", "--message",
                                "First\\nSecond", "--image", image, "--port-settings", "win:x:name:Pad In",
                                "--port-settings", "win:x:ideal:256", "--mac-names", "Pad$Pad 2", "--portion",
                                one, "--portion", two + "@2500"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream file(out, std::ios::binary);
    Update loaded(file);
    EXPECT_FALSE(loaded.isRawSysEx);
    EXPECT_EQ(loaded.productName, "Pad");
    EXPECT_EQ(VersionText(loaded.version), "2.07");
    EXPECT_EQ(loaded.message, "First\nSecond");
    EXPECT_EQ(loaded.image, (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_EQ(loaded.winPort.names, (std::set<std::string>{"Pad In"}));
    EXPECT_EQ(loaded.winPort.ideal, 256);
    ASSERT_EQ(loaded.portions.size(), 2u);
    EXPECT_EQ(loaded.portions[0].data, SysExMessage(8));
    EXPECT_EQ(loaded.portions[0].delay, 0u);
    EXPECT_EQ(loaded.portions[1].data, SysExMessage(12, 0x22));
    EXPECT_EQ(loaded.portions[1].delay, 2500u);
}

TEST(Pack, RefusesIncompleteOrMalformedCommandLines) {
    TempDir dir;
    std::string syx = dir.Write("p.syx", SysExMessage(4));
    std::string out = dir.File("x.upd");
    std::vector<std::vector<std::string>> bad = {
        {"pack", "--product", "P", "--version", "1.0", "--portion", syx},           // no output
        {"pack", "-o", out, "--version", "1.0", "--portion", syx},                  // no product
        {"pack", "-o", out, "--product", "P", "--portion", syx},                    // no version
        {"pack", "-o", out, "--product", "P", "--version", "1.0"},                  // no portion
        {"pack", "-o", out, "--product", "P", "--version", "1", "--portion", syx},  // no minor
        {"pack", "-o", out, "--product", "P", "--version", "70000.1", "--portion", syx},
        {"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", syx + "@soon"},
        {"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", syx, "--bogus"},
        {"pack", "-o"},
        {"pack", "-o", out, "--product", "P", "--version", "1.70000", "--portion", syx},
    };
    // Settings text that cannot mean anything to the programs.
    for (const char* settings : {"mac:x:ideal:5", "win:x:Ideal:5", "win:x:ideal:abc", "win:x:ideal:0",
                                 "win:x:delay:9999999999", "win:x:chunks:maybe", "win:x:max"})
        bad.push_back({"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", syx, "--port-settings", settings});
    for (const auto& args : bad) {
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_NE(run.err.find("See 'midiupdate help"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Pack, PrintsWhatItWroteAndWarnsAboutWhatLooksWrong) {
    TempDir dir;
    const std::string good = dir.Write("good.syx", SysExMessage(8));
    const std::string empty = dir.Write("empty.syx", {});
    const std::string noise = dir.Write("noise.syx", {0x12, 0x9A, 0x33});
    const std::string picture = dir.Write("pic.jpg", {0xFF, 0xD8, 0xFF});
    const std::string out = dir.File("made.upd");

    const CliRun clean = RunMidiUpdate({"pack", "-o", out, "--product", "Pad", "--version", "1.5", "--portion", good});
    ASSERT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, RunMidiUpdate({"info", out}).out);  // the stored version: 1.05
    EXPECT_NE(clean.out.find("Version:     1.05\n"), std::string::npos) << clean.out;
    EXPECT_EQ(clean.err, "");

    const CliRun odd = RunMidiUpdate({"pack", "-o", out, "--product", "Pad", "--version", "1.5", "--image", picture,
                                      "--portion", empty, "--portion", noise, "--portion", good});
    ASSERT_EQ(odd.status, 0) << odd.err;
    EXPECT_EQ(CliRun::Lines(odd.err),
              (std::vector<std::string>{
                  "midiupdate: warning: the picture is not a PNG image; the programs show only PNG",
                  "midiupdate: warning: portion #1 (" + empty + ") is empty",
                  "midiupdate: warning: portion #2 (" + noise + "): 3 bytes outside SysEx messages"}));
    EXPECT_NE(odd.out.find("Portions:    3\n"), std::string::npos) << odd.out;
}

TEST(Pack, AMissingPortionFileFailsWithoutWritingAnything) {
    TempDir dir;
    std::string out = dir.File("x.upd");
    CliRun run = RunMidiUpdate({"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion",
                                dir.File("absent.syx")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot open"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CommandLine, HelpVersionAndBadCommands) {
    EXPECT_EQ(RunMidiUpdate({"--help"}).status, 0);
    EXPECT_NE(RunMidiUpdate({"--help"}).out.find("midiupdate info [--json] FILE"), std::string::npos);
    CliRun version = RunMidiUpdate({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("midiupdate ", 0), 0u);
    EXPECT_EQ(RunMidiUpdate({"-V"}).out, version.out);
    EXPECT_EQ(RunMidiUpdate({"help", "list"}).out, RunMidiUpdate({"help", "ports"}).out);
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"frobnicate"}, {"info"}, {"info", "a", "b"},
                                                                    {"info", "--xml", "a"}, {"--log"}}) {
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("See 'midiupdate help"), std::string::npos);
    }
}

TEST(CommandLine, TheLogGoesToTheLogFileAndNeverIntoTheOutput) {
    TempDir dir;
    std::string path = dir.WriteUpdate("a.upd", DemoContents());
    std::string log = dir.File("log.txt");
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--log", log});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::uint8_t> logged = ReadBytes(log);
    std::string logText(logged.begin(), logged.end());
    EXPECT_NE(logText.find("SysExSender::Send(update,sender,progress)\n"), std::string::npos) << logText;
    EXPECT_EQ(run.out.find("SysExSender"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

// A maker learns before shipping which messages the file's pacing settings cut and frame, and the
// simulated device expects exactly that on the wire.
TEST(Pack, SaysWhichMessagesTheSettingsCutAndFrame) {
    TempDir dir;
    std::vector<std::uint8_t> portion = SysExMessage(2000);
    portion[1500] = 0x0A;  // past the ideal chunk size: a chunk ends here, inside the message
    const std::vector<std::uint8_t> second = SysExMessage(40);
    portion.insert(portion.end(), second.begin(), second.end());
    const std::string syx = dir.Write("fw.syx", portion);
    const std::string out = dir.File("fw.upd");
    const CliRun run = RunMidiUpdate({"pack", "-o", out, "--product", "Pad", "--version", "1.0", "--portion", syx});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("        cut: 1 of 2 messages end up in two or more chunks and arrive framed as 3 "
                           "messages (2 bytes added)\n"),
              std::string::npos)
        << run.out;
    const CliRun json = RunMidiUpdate({"info", "--json", out});
    EXPECT_NE(json.out.find("\"messages_cut\": 1, \"wire_messages\": 3, \"bytes_added\": 2}"), std::string::npos)
        << json.out;

    std::ifstream file(out, std::ios::binary);
    const Update update(file);
    EXPECT_NE(MakeFileDevice(update, update.winPort, DeviceBehaviour{})
                  ->Report()
                  .find("Expecting: the file's bytes in chunks of its pacing settings, each chunk framed as a SysEx "
                        "message: 1 of its 2 messages are cut across chunks and arrive as 3, with 2 bytes added\n"),
              std::string::npos);
    // A raw file's messages go out as they stand: nothing is said of cuts.
    EXPECT_EQ(RunMidiUpdate({"info", syx}).out.find("cut:"), std::string::npos);
}
