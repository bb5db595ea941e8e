// The command line of the Linux and macOS MIDI: which names a real send looks for, --api, and the
// simulate command's own checks (its traffic over real MIDI is tested over JACK).

#include <gtest/gtest.h>

#include <cstdlib>

#include "CliTestSupport.h"
#include "Clock.h"
#include "HostPlatform.h"
#include "MidiSystem.h"
#if __has_include("DeviceSimulator.h")
#include "DeviceSimulator.h"
#include "message/FakeConnection.h"
#define MIDIUPDATE_SIMULATOR_OVER_FAKE 1
#endif

namespace {

// Records the settings of the one port a run makes; the port takes everything and never answers.
class RecordingSystem : public MidiSystem {
public:
    explicit RecordingSystem(std::vector<PortSettings>& made) : made(made) {}
    std::string Name() const override { return "test"; }
    std::vector<MidiPortEntry> OutputPorts() override { return {}; }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        made.push_back(settings);
        return std::make_unique<QuietPort>();
    }

private:
    std::vector<PortSettings>& made;
};

}  // namespace

TEST(RealSend, LooksForTheNamesOfThisPlatformAndThePortGivenByHand) {
    TempDir dir;
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {1, 2};
    contents.portSettings = {"win:x:name:Pad Win:ideal:256"};
    contents.macNames = {"Pad Mac"};
    contents.portions.push_back({SysExMessage(40), 0});
    const std::string path = dir.WriteUpdate("fw.upd", contents);
    std::ifstream file(path, std::ios::binary);
    const Update update(file);

    for (const bool byHand : {false, true}) {
        std::vector<PortSettings> made;
        std::ostringstream out, err;
        std::istringstream in;
        CliIo io{out, err, in};
        io.openMidiSystem = [&](std::string&) { return std::make_unique<RecordingSystem>(made); };
        SimulatedClock clock;
        ScopedClock use(clock);
        std::vector<std::string> args = {"send", path, "--yes"};
        if (byHand) args.insert(args.end(), {"--port", "Other"});
        EXPECT_EQ(RunCli(args, io), kExitUnconfirmed) << err.str();
        ASSERT_EQ(made.size(), 1u);
        const std::set<std::string> expected =
            byHand ? std::set<std::string>{"Other"} : PortNamesFor(update, CurrentHostPlatform());
        EXPECT_EQ(made[0].names, expected);
        EXPECT_EQ(made[0].ideal, 256);  // the pacing stays the file's
    }
}

TEST(Simulate, RefusesMalformedCommandLines) {
    TempDir dir;
    const std::string path = dir.WriteUpdate("fw.upd", [] {
        UpdateFileContents c;
        c.productName = "Pad";
        c.portions.push_back({SysExMessage(10), 0});
        return c;
    }());
    const std::vector<std::vector<std::string>> bad = {
        {"simulate", path, "--timeout", "0"},      {"simulate", path, "--timeout", "soon"},
        {"simulate", path, "--timeout"},           {"simulate", path, path},
        {"simulate", path, "--virtual=status=maybe"}, {"simulate", path, "--loud"},
        {"simulate", path, "--api", "oss"},        {"ports", "--api", "midi"},
        {"ports", "extra"},                        {"send", path, "--api", "dx"},
    };
    for (const auto& args : bad) {
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, kExitUsage) << args.back();
        EXPECT_NE(run.err.find("See 'midiupdate help"), std::string::npos) << args.back();
    }
}

TEST(Simulate, AFileThatFailsToLoadOpensNoPorts) {
    TempDir dir;
    const std::string path = dir.Write("bad.upd", {'n', 'o', 'p', 'e'});
    CliRun run = RunMidiUpdate({"simulate", path, "--timeout", "1"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.LastErrLine(), kBadHeaderText);
}

#ifndef _WIN32
TEST(Simulate, WithoutTheNamedMidiSystemSaysSoAndFails) {
    // A JACK server of a name nobody uses: there is none to reach.
    const char* previous = std::getenv("JACK_DEFAULT_SERVER");
    const std::string saved = previous ? previous : "";
    setenv("JACK_DEFAULT_SERVER", "midiupdate-no-such-server", 1);
    const CliRun ports = RunMidiUpdate({"ports", "--api", "jack"});
    const CliRun simulate = RunMidiUpdate({"simulate", "--api", "jack", "--timeout", "1"});
    if (previous)
        setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
    else
        unsetenv("JACK_DEFAULT_SERVER");
    for (const CliRun& run : {ports, simulate}) {
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_EQ(run.err.rfind("midiupdate: no MIDI system available: ", 0), 0u) << run.err;
    }
}
#endif

#if defined(MIDIUPDATE_SIMULATOR_OVER_FAKE)
namespace {

// Serves the simulated device over a connection in memory that the test feeds.
class InMemorySystem : public MidiSystem {
public:
    explicit InMemorySystem(FakeConnection& connection) : connection(connection) {}
    std::string Name() const override { return "test"; }
    std::vector<MidiPortEntry> OutputPorts() override { return {}; }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings&) override { return nullptr; }
    std::unique_ptr<DeviceServer> ServeDevice(const std::string& name, SimulatedDevice& device,
                                              std::string&) override {
        return std::make_unique<DeviceSimulator>(connection, device, name);
    }

private:
    FakeConnection& connection;
};

}  // namespace

// Every byte arrives, but the MIDI system says it lost input on the way: simulate says so, does not
// call the transfer good and exits with 1, with a file and without one.
TEST(Simulate, ATransferTheMidiSystemLostInputInIsNotGood) {
    TempDir dir;
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.portions.push_back({SysExMessage(40), 0});
    const std::string path = dir.WriteUpdate("fw.upd", contents);
    for (const bool withFile : {true, false}) {
        SCOPED_TRACE(withFile ? "with a file" : "without a file");
        FakeConnection midi;
        HookedClock clock;
        ScopedClock use(clock);
        clock.afterSleep = [&](std::uint64_t now) {
            if (now == 100) midi.Deliver(contents.portions[0].data);
            if (now == 150) midi.inputErrors.overruns = 1;
        };
        std::ostringstream out, err;
        std::istringstream in;
        CliIo io{out, err, in};
        io.openMidiSystem = [&](std::string&) { return std::make_unique<InMemorySystem>(midi); };
        std::vector<std::string> args = {"simulate", "--timeout", "3"};
        if (withFile) args.push_back(path);
        EXPECT_EQ(RunCli(args, io), kExitFailed) << err.str();
        EXPECT_NE(out.str().find("MIDI input errors: the MIDI system reported 1 input buffer overrun and 0 other "
                                 "input errors; what came meanwhile was lost\n"
                                 "Verdict: the MIDI system lost input on the way in, so this transfer is not good.\n"),
                  std::string::npos)
            << out.str();
    }
}
#endif
