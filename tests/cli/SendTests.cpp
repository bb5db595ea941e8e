#include "CliTestSupport.h"

namespace {

UpdateFileContents OnePortion(std::size_t bytes = 100) {
    UpdateFileContents c;
    c.productName = "Pad";
    c.version = {1, 5};
    c.portions.push_back({SysExMessage(bytes), 0});
    return c;
}

std::string Status(std::uint64_t t, const std::string& text) {
    return "{\"t\": " + std::to_string(t) + ", \"event\": \"status\", \"text\": \"" + text + "\"}";
}
std::string Event(std::uint64_t t, const std::string& event, const std::string& tail = "") {
    return "{\"t\": " + std::to_string(t) + ", \"event\": \"" + event + "\"" + tail + "}";
}
std::string Progress(std::uint64_t t, const std::string& value) {
    return Event(t, "progress", ", \"value\": " + value);
}

}  // namespace

TEST(SendDryRun, OnePortionShowsEveryReportWithItsTimeOnTheSimulatedClock) {
    TempDir dir;
    std::string path = dir.WriteUpdate("one.upd", OnePortion());
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    ASSERT_EQ(run.status, 0) << run.err;
    // One chunk: the port's own pauses (200 + 100 ms) and then the rest of 100/4096 s (24 ms);
    // the device answers 300 ms after the portion's last byte, which the first poll finds.
    std::vector<std::string> expected = {
        Progress(0, "0"),
        Event(0, "indeterminate"),
        Status(0, "Started update"),
        Status(0, "Looking for Pad to update..."),
        Event(0, "indeterminate"),
        Event(0, "indeterminate"),
        Status(300, "Sent 100 bytes of 100 bytes"),
        Progress(324, "1"),
        Status(324, "Sent 100 bytes of 100 bytes"),
        Status(324, "Checking update status..."),
        Event(324, "indeterminate"),
        Status(324, "Device has accepted update."),
        Progress(324, "1"),
        Progress(324, "1"),
        Status(324, "MIDI update sent successfully."),
        Event(324, "completed", ", \"text\": \"The 'Pad' was updated sucessfully to version 1.05.\""),
        Event(324, "verdict", ", \"verdict\": \"updated\", \"exit\": 0"),
    };
    EXPECT_EQ(run.OutLines(), expected);
    EXPECT_NE(run.err.find("Dry run: on a real device this update would take at least 0s (324 ms)"), std::string::npos)
        << run.err;
}

TEST(SendDryRun, ThreePortionsNumberTheLaterOnesAndAskOnceForPreparation) {
    TempDir dir;
    UpdateFileContents c = OnePortion();
    // The last portion holds two messages, so it goes out in two chunks (1024 bytes, then 976).
    std::vector<std::uint8_t> last = SysExMessage(1024);
    std::vector<std::uint8_t> tail = SysExMessage(976);
    last.insert(last.end(), tail.begin(), tail.end());
    c.portions = {{SysExMessage(1000), 0}, {SysExMessage(1000), 0}, {last, 0}};
    std::string path = dir.WriteUpdate("three.upd", c);
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = run.OutLines();
    std::vector<std::string> statuses, blocking;
    std::vector<float> progress;
    for (const std::string& line : lines) {
        if (line.find("\"event\": \"status\"") != std::string::npos) statuses.push_back(line.substr(line.find("\"text\"")));
        if (line.find("\"event\": \"blocking\"") != std::string::npos) blocking.push_back(line);
        if (line.find("\"event\": \"progress\"") != std::string::npos) progress.push_back(std::stof(line.substr(line.find("\"value\"") + 9)));
    }
    std::vector<std::string> expectedStatuses = {
        "\"text\": \"Started update\"}",
        "\"text\": \"Looking for Pad to update...\"}",
        "\"text\": \"Sent 1000 bytes of 1000 bytes\"}",
        "\"text\": \"Sent 1000 bytes of 1000 bytes\"}",
        "\"text\": \"Checking update status...\"}",
        "\"text\": \"Device has accepted update.\"}",
        "\"text\": \"Sending chunk #2 of 3\"}",
        "\"text\": \"Sent 1000 bytes of 1000 bytes\"}",
        "\"text\": \"Sent 1000 bytes of 1000 bytes\"}",
        "\"text\": \"Checking update status...\"}",
        "\"text\": \"Device has accepted update.\"}",
        "\"text\": \"Sending chunk #3 of 3\"}",
        "\"text\": \"Sent 1.0KB of 2.0KB\"}",
        "\"text\": \"Sent 2.0KB of 2.0KB\"}",
        "\"text\": \"Sent 2.0KB of 2.0KB\"}",
        "\"text\": \"Checking update status...\"}",
        "\"text\": \"Device has accepted update.\"}",
        "\"text\": \"MIDI update sent successfully.\"}",
    };
    EXPECT_EQ(statuses, expectedStatuses);
    ASSERT_EQ(blocking.size(), 1u);
    EXPECT_NE(blocking[0].find("\"text\": \"Preparing your update...\\u000A\\u000A1. Please connect your device via "
                               "USB.\\u000A2. Do not disconnect your device until the update is complete.\""),
              std::string::npos);
    // The blocking message comes after the first portion's status wait and before the second portion.
    auto at = [&](const std::string& part) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(part) != std::string::npos) return i;
        return lines.size();
    };
    EXPECT_GT(at("blocking"), at("Device has accepted update."));
    EXPECT_LT(at("blocking"), at("Sending chunk #2 of 3"));
    // The bar moves by bytes: portion shares of 1/4, 1/4 and 1/2 of the whole; inside the last
    // portion the second chunk starts after 1024 of its 2000 bytes.
    std::vector<float> expectedProgress = {0.0f, 0.25f, 0.25f, 0.5f, 0.5f, 0.5f + 0.5f * (1024.0f / 2000.0f),
                                           1.0f, 1.0f, 1.0f};
    ASSERT_EQ(progress.size(), expectedProgress.size());
    for (std::size_t i = 0; i < progress.size(); ++i) EXPECT_FLOAT_EQ(progress[i], expectedProgress[i]) << i;
    EXPECT_NE(lines[lines.size() - 2].find("\"event\": \"completed\""), std::string::npos);
}

TEST(SendDryRun, AnUpdateWithoutPortionsGoesStraightToTheDeviceEnquiry) {
    TempDir dir;
    UpdateFileContents c = OnePortion();
    c.portions.clear();
    std::string path = dir.WriteUpdate("empty.upd", c);
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected = {
        Progress(0, "0"),
        Event(0, "indeterminate"),
        Status(0, "Started update"),
        Progress(0, "1"),
        Status(0, "MIDI update sent successfully."),
        Status(0, "Verifying update status..."),
        Event(20, "completed", ", \"text\": \"The 'Pad' was updated sucessfully to version 1.05.\""),
        Event(20, "verdict", ", \"verdict\": \"updated\", \"exit\": 0"),
    };
    EXPECT_EQ(run.OutLines(), expected);
}

TEST(SendDryRun, ARawSysExFileIsConfirmedByTheVersionTheDeviceReports) {
    TempDir dir;
    std::vector<std::uint8_t> bytes = SysExMessage(50);
    std::vector<std::uint8_t> second = SysExMessage(30);
    bytes.insert(bytes.end(), second.begin(), second.end());
    std::string path = dir.Write("fw.syx", bytes);

    CliRun accepted = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    EXPECT_EQ(accepted.status, 0);
    const std::vector<std::string> lines = accepted.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              Event(319, "completed",
                    ", \"text\": \"The '<SysEx Update Device>' was updated sucessfully to version 0.00.\""));
    EXPECT_NE(accepted.out.find(Status(0, "Looking for <SysEx Update Device> to update...")), std::string::npos);

    CliRun silent = RunMidiUpdate({"send", path, "--dry-run", "--events", "--virtual=status=none,identity=2.01"});
    EXPECT_EQ(silent.status, 0) << silent.err;
    EXPECT_NE(silent.out.find("The update has been sent to the device sucessfully.\\u000AIt is now at version "
                              "firmware 2.01."),
              std::string::npos)
        << silent.out;
}

TEST(Send, ExitStatusFollowsTheVerdict) {
    TempDir dir;
    std::string path = dir.WriteUpdate("one.upd", OnePortion());
    struct Case {
        std::string behaviour;
        int status;
        std::string verdictStart;
    } cases[] = {
        {"status=accept", 0, "The 'Pad' was updated sucessfully to version 1.05."},
        {"status=fail", 1, "There was an error sending the update file."},
        {"status=none", 0, "The 'Pad' was updated sucessfully to version 1.05."},
        {"status=none,identity=1.06", 1, "The 'Pad' firmware version is now 1.06."},
        {"status=none,identity=none", 3, "The update has been sent."},
        {"status=install:2", 0, "The 'Pad' was updated sucessfully to version 1.05."},
        {"offline=3000", 0, "The 'Pad' was updated sucessfully to version 1.05."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--virtual=" + c.behaviour});
        EXPECT_EQ(run.status, c.status) << run.err;
        std::vector<std::string> lines = run.OutLines();
        // The verdict is printed last (it may run over several lines).
        std::size_t verdictAt = run.out.rfind(c.verdictStart);
        ASSERT_NE(verdictAt, std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Dry run:"), run.out.rfind("Dry run:"));
        EXPECT_LT(run.out.find("Dry run:"), verdictAt);
    }
}

TEST(Send, PlainOutputIsOneLinePerStatusThenTheVerdict) {
    TempDir dir;
    std::string path = dir.WriteUpdate("one.upd", OnePortion());
    CliRun run = RunMidiUpdate({"send", path, "--dry-run"});
    ASSERT_EQ(run.status, 0);
    // What is about to happen comes first, then one line per status.
    std::vector<std::string> expected = {
        "Product:     Pad",
        "Version:     1.05",
        "Send to:     the built-in virtual device",
        "Portions:    1, 100 bytes (100 bytes) in all",
        "Pacing:      ideal 1024, max 3072 bytes; delay 200 ms, unprep delay 100 ms; chunks framed",
        "Duration:    at least 0s, not counting time spent at messages or the MIDI system's own pacing",
        "",
        "Started update",
        "Looking for Pad to update...",
        "Sent 100 bytes of 100 bytes",
        "Sent 100 bytes of 100 bytes",
        "Checking update status...",
        "Device has accepted update.",
        "MIDI update sent successfully.",
        "Dry run: on a real device this update would take at least 0s (324 ms), not counting time spent at messages "
        "or the pacing of the MIDI system that will carry it (--api names it).",
        "The 'Pad' was updated sucessfully to version 1.05.",
    };
    EXPECT_EQ(run.OutLines(), expected);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
}

TEST(Send, RefusesToRunWithoutAMidiSystemOrWithAnUnknownBehaviour) {
    TempDir dir;
    std::string path = dir.WriteUpdate("one.upd", OnePortion());
    {
        // A real run needs the platform's MIDI system; here there is none to give.
        std::ostringstream out, err;
        std::istringstream in;
        CliIo io{out, err, in};
        io.openMidiSystem = [](std::string& error) {
            error = "no MIDI system available: test";
            return std::unique_ptr<MidiSystem>();
        };
        EXPECT_EQ(RunCli({"send", path}, io), 1);
        EXPECT_EQ(err.str(), "midiupdate: no MIDI system available: test\n");
    }
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"send", path, "--port", "Foo", "--virtual"}, {"send", path, "--virtual=status=maybe"}, {"send", path, "--virtual=colour=blue"},
             {"send", "--virtual"}, {"send", path, "--dry-run", "--fast"}}) {
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_NE(run.err.find("See 'midiupdate help"), std::string::npos);
    }
}

TEST(Send, AFileThatFailsToLoadSendsNothingAndExitsWithOne) {
    TempDir dir;
    std::string path = dir.Write("bad.upd", {'n', 'o', 'p', 'e'});
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "{\"t\": 0, \"event\": \"verdict\", \"verdict\": \"not_loaded\", \"exit\": 1}\n");
    EXPECT_EQ(run.LastErrLine(), kBadHeaderText);
}

TEST(Send, APreviewSaysHowARawFileGoesOutAndWarnsOfAnUnendedLastMessage) {
    TempDir dir;
    std::vector<std::uint8_t> bytes = SysExMessage(20);
    const std::vector<std::uint8_t> last = SysExMessage(50);
    bytes.insert(bytes.end(), last.begin(), last.end());
    const std::string whole = dir.Write("whole.syx", bytes);
    bytes.resize(bytes.size() - 1);
    const std::string cut = dir.Write("cut.syx", bytes);
    const struct {
        std::string path;
        std::vector<std::string> options;
        const char* rules;
        bool warned;
    } cases[] = {
        {whole, {}, "messages as the file holds them", false},
        {cut, {}, "messages as the file holds them", true},
        {cut, {"--chunks", "yes"}, "chunks framed", false},  // the framing ends it
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"send", c.path, "--dry-run"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliRun run = RunMidiUpdate(args);
        EXPECT_NE(run.out.find(std::string("unprep delay 100 ms; ") + c.rules + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Warning:     portion #1 ends inside a SysEx message (its last 49 bytes have no "
                               "F7)") != std::string::npos,
                  c.warned)
            << run.out;
    }
}

TEST(Send, PacingOptionsReplaceTheFilesValuesForTheRun) {
    TempDir dir;
    const std::string path = dir.WriteUpdate("one.upd", OnePortion(100));
    // Chunks of 40 bytes with no pauses of the port's own: each status comes as its chunk leaves,
    // the next chunk after the rest of 40/4096 s (9 ms).
    CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events", "--ideal", "40", "--max", "40", "--delay", "0",
                                "--unprep-delay", "0", "--chunks", "no"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(Status(0, "Sent 40 bytes of 100 bytes")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(Status(9, "Sent 80 bytes of 100 bytes")), std::string::npos) << run.out;

    // The preview shows the pacing in effect, and warns of what is likely a slip.
    const CliRun odd = RunMidiUpdate({"send", path, "--dry-run", "--ideal", "512", "--max", "100", "--delay",
                                      "3600001", "--chunks", "no"});
    ASSERT_EQ(odd.status, 0) << odd.err;
    EXPECT_NE(odd.out.find("Pacing:      ideal 512, max 100 bytes; delay 3600001 ms, unprep delay 100 ms; "
                           "chunks as cut\n"), std::string::npos) << odd.out;
    EXPECT_NE(odd.out.find("Warning:     max (100 bytes) is below ideal (512 bytes)"), std::string::npos);
    EXPECT_NE(odd.out.find("Warning:     a pause of more than an hour after each chunk"), std::string::npos);

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--ideal", "0"}, {"--ideal", "-4"}, {"--max", "lots"}, {"--delay"}, {"--chunks", "maybe"}}) {
        std::vector<std::string> args = {"send", path, "--dry-run"};
        args.insert(args.end(), bad.begin(), bad.end());
        const CliRun refused = RunMidiUpdate(args);
        EXPECT_EQ(refused.status, 2) << bad[0];
        EXPECT_EQ(refused.err.rfind("midiupdate: " + bad[0], 0), 0u) << refused.err;
    }
}

TEST(Send, ADashReadsTheFileFromStandardInput) {
    TempDir dir;
    std::string bytes;
    for (std::uint8_t b : ReadBytes(dir.WriteUpdate("one.upd", OnePortion()))) bytes += static_cast<char>(b);
    const CliRun sent = RunMidiUpdate({"send", "-", "--dry-run"}, bytes);
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(sent.out.find("The 'Pad' was updated sucessfully to version 1.05."), std::string::npos);
    const CliRun shown = RunMidiUpdate({"info", "--json", "-"}, bytes);
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("\"product\": \"Pad\""), std::string::npos);
    const CliRun broken = RunMidiUpdate({"info", "-"}, bytes.substr(0, 10));
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.LastErrLine(), kBadHeaderText);
}
