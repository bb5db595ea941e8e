// The command line over a MIDI system: listing ports, choosing one for a raw SysEx file, and what
// happens when there is no system at all.

#include <gtest/gtest.h>

#include <ostream>

#include "CliTestSupport.h"
#include "Clock.h"
#include "MidiSystem.h"

namespace {

// A MIDI system with fixed port lists whose ports go nowhere; records the settings it was given.
class ListedSystem : public MidiSystem {
public:
    std::vector<MidiPortEntry> outputs, inputs;
    std::vector<PortSettings>* made = nullptr;
    unsigned absentChecks = 0;  // the port's device appears only after this many checks

    std::string Name() const override { return "test"; }
    std::vector<MidiPortEntry> OutputPorts() override { return outputs; }
    std::vector<MidiPortEntry> InputPorts() override { return inputs; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        if (made) made->push_back(settings);
        return std::make_unique<QuietPort>(absentChecks);
    }
};

CliRun RunWith(const std::vector<std::string>& args, MidiSystemFactory factory, const std::string& input = "",
               bool inTty = false) {
    return RunMidiUpdateWith(args, [&](CliIo& io) {
        io.inIsTty = inTty;
        io.openMidiSystem = std::move(factory);
    }, input);
}

MidiSystemFactory Fixed(ListedSystem system) {
    return [system](std::string&) { return std::make_unique<ListedSystem>(system); };
}

TEST(Ports, ListsBothDirectionsWithIdsAndWhatTheSearchSkips) {
    ListedSystem system;
    system.outputs = {{0, "Microsoft GS Wavetable Synth", true}, {1, "2- Foo", false}};
    system.inputs = {{0, "Foo In", false}};
    CliRun run = RunWith({"ports"}, Fixed(system));
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out,
              "MIDI output ports (test):\n"
              "  #0  'Microsoft GS Wavetable Synth'  (skipped by the port search)\n"
              "  #1  '2- Foo'\n"
              "MIDI input ports (test):\n"
              "  #0  'Foo In'\n");
}

TEST(Ports, ListIsTheSameCommand) {
    ListedSystem system;
    system.outputs = {{0, "Foo", false}};
    EXPECT_EQ(RunWith({"list"}, Fixed(system)).out, RunWith({"ports"}, Fixed(system)).out);
}

TEST(Ports, NoPortsAtAllIsNotAnError) {
    CliRun run = RunWith({"ports"}, Fixed(ListedSystem{}));
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out, "No MIDI ports found (test).\n");
}

TEST(Ports, WithoutAMidiSystemSaysSoAndFails) {
    CliRun run = RunWith({"ports"}, [](std::string& error) {
        error = "no MIDI system available: none here";
        return std::unique_ptr<MidiSystem>();
    });
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.err, "midiupdate: no MIDI system available: none here\n");
}

// How the port names of a real send are decided, and when a raw SysEx file is refused.
struct PortChoiceCase {
    const char* name;
    bool raw;
    std::vector<std::string> extraArgs;
    bool inTty;
    std::string input;
    int status;                 // kExitUnconfirmed: the run went ahead (and found no device)
    std::set<std::string> names;  // the names the port was made with, when it was made
    std::string errPart;
};

// Test names show the case's name, not its bytes.
void PrintTo(const PortChoiceCase& c, std::ostream* os) { *os << c.name; }

class PortChoice : public ::testing::TestWithParam<PortChoiceCase> {};

TEST_P(PortChoice, DecidesTheNamesLookedFor) {
    const PortChoiceCase& c = GetParam();
    TempDir dir;
    std::string path;
    if (c.raw) {
        path = dir.Write("fw.syx", SysExMessage(40));
    } else {
        UpdateFileContents contents;
        contents.productName = "Pad";
        contents.version = {1, 2};
        contents.portSettings = {"win:x:name:Pad Port"};
        contents.portions.push_back({SysExMessage(40), 0});
        path = dir.WriteUpdate("fw.upd", contents);
    }
    ListedSystem system;
    system.outputs = {{0, "Microsoft GS Wavetable Synth", true}, {1, "2- Foo", false}};
    std::vector<PortSettings> made;
    system.made = &made;
    std::vector<std::string> args = {"send", path, "--yes"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    SimulatedClock clock;  // the silent device's status polls take no real time
    ScopedClock use(clock);
    CliRun run = RunWith(args, [&](std::string&) { return std::make_unique<ListedSystem>(system); }, c.input, c.inTty);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.status == kExitUnconfirmed || !c.names.empty()) {
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0].names, c.names);
    } else {
        EXPECT_TRUE(made.empty());
    }
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortChoice,
    ::testing::Values(
        PortChoiceCase{"UpdateFileUsesItsOwnNames", false, {}, false, "", kExitUnconfirmed, {"Pad Port"}, ""},
        PortChoiceCase{"PortOptionReplacesTheFilesNames", false, {"--port", "2- Foo"}, false, "",
                       kExitUnconfirmed, {"2- Foo"}, ""},
        PortChoiceCase{"RawFileWithPortOption", true, {"--port", "Foo"}, false, "", kExitUnconfirmed, {"Foo"}, ""},
        PortChoiceCase{"RawFileChoiceOnATerminal", true, {}, true, "2\n", kExitUnconfirmed, {"2- Foo"}, ""},
        PortChoiceCase{"RawFileNoChoiceCancels", true, {}, true, "\n", kExitDeclined, {}, "Update canceled"},
        PortChoiceCase{"RawFileChoiceOutOfRangeCancels", true, {}, true, "3\n", kExitDeclined, {}, "Update canceled"},
        PortChoiceCase{"RawFileWithoutATerminalIsRefused", true, {}, false, "", kExitUsage, {},
                       "there is no terminal to ask on"},
        PortChoiceCase{"PortIdAsPortsPrintsIt", true, {"--port", "#1"}, false, "", kExitUnconfirmed, {"2- Foo"}, ""},
        PortChoiceCase{"PortIdWithoutItsSign", false, {"--port", "0"}, false, "", kExitUnconfirmed,
                       {"Microsoft GS Wavetable Synth"}, ""},
        PortChoiceCase{"PortIdThatIsNotListed", true, {"--port", "#7"}, false, "", kExitFailed, {},
                       "there is no output port #7 (test)"}),
    [](const ::testing::TestParamInfo<PortChoiceCase>& info) { return std::string(info.param.name); });

TEST(PortChoice, TheNumberedListShowsEveryOutputPort) {
    TempDir dir;
    std::string path = dir.Write("fw.syx", SysExMessage(40));
    ListedSystem system;
    system.outputs = {{0, "Microsoft GS Wavetable Synth", true}, {1, "2- Foo", false}};
    CliRun run = RunWith({"send", path, "--yes"}, Fixed(system), "\n", true);
    EXPECT_EQ(run.out.substr(0, run.out.find("Port number")),
              "Please select a MIDI port:\n  1) Microsoft GS Wavetable Synth\n  2) 2- Foo\n");
}

// A port that is not there yet is waited for; after the first round of checks the person learns,
// once, what is looked for and what there is.
TEST(PortChoice, AMissingPortIsWaitedForAndNamedOnce) {
    TempDir dir;
    const std::string path = dir.Write("fw.syx", SysExMessage(40));
    ListedSystem system;
    system.outputs = {{0, "Foo", false}};
    system.inputs = {{0, "Foo In", false}};
    system.absentChecks = 30;  // nearly three rounds
    SimulatedClock clock;
    ScopedClock use(clock);
    const CliRun run = RunWith({"send", path, "--port", "Nothing Here", "--yes"}, Fixed(system));
    EXPECT_EQ(run.status, kExitUnconfirmed) << run.err;
    const std::string note =
        "midiupdate: no MIDI port matches yet; still looking for a MIDI port named \"Nothing Here\" (test), as "
        "the device may still be starting its update mode. Ctrl-C stops.\n"
        "Output ports now:\n  #0  'Foo'\nInput ports now:\n  #0  'Foo In'\n";
    const std::size_t at = run.out.find(note);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(note, at + 1), std::string::npos) << "said more than once";
    EXPECT_LT(run.out.find("Looking for"), at);
}

// Before a real device is updated the person at the terminal says yes; without one, --yes must.
TEST(SendConfirmation, AsksBeforeARealDeviceIsUpdated) {
    TempDir dir;
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {1, 2};
    contents.message = "Hold SHIFT while powering on.";
    contents.portSettings = {"win:x:name:Pad Port"};
    contents.portions.push_back({SysExMessage(40), 0});
    const std::string path = dir.WriteUpdate("fw.upd", contents);
    std::string fileBytes;
    for (std::uint8_t b : ReadBytes(path)) fileBytes += static_cast<char>(b);
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool inTty;
        std::string input;
        int status;  // kExitUnconfirmed: the run went ahead (the test port never answers)
        const char* errPart;
    } cases[] = {
        {"no terminal", {"send", path}, false, "", kExitUsage, "nothing was sent"},
        {"answered no", {"send", path}, true, "n\n", kExitDeclined, "Update canceled"},
        {"answered with Enter", {"send", path}, true, "\n", kExitDeclined, "Update canceled"},
        {"answered yes", {"send", path}, true, "y\n", kExitUnconfirmed, ""},
        {"--yes", {"send", path, "--yes"}, false, "", kExitUnconfirmed, ""},
        {"file on standard input", {"send", "-"}, false, fileBytes, kExitUsage, "nothing was sent"},
        {"file on standard input, --yes", {"send", "-", "--yes"}, false, fileBytes, kExitUnconfirmed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ListedSystem system;
        std::vector<PortSettings> made;
        system.made = &made;
        SimulatedClock clock;
        ScopedClock use(clock);
        const CliRun run = RunWith(c.args, [&](std::string&) { return std::make_unique<ListedSystem>(system); },
                                   c.input, c.inTty);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(made.size(), c.status == kExitUnconfirmed ? 1u : 0u);  // no port unless it goes ahead
        EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("Message:\n    Hold SHIFT while powering on.\nSend to:     a MIDI port named "
                               "\"Pad Port\" (test)\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("Update now? [y/N]") != std::string::npos, c.inTty);
    }
}

}  // namespace

#if defined(MIDIUPDATE_TEST_RTMIDI_PORT)
// A send over the message port, to a device that a MIDI system in memory lists as JACK does.
#include "DeviceBehaviour.h"
#include "PortChoice.h"
#include "MessagePort.h"
#include "VirtualDeviceModel.h"
#include "message/FakeConnection.h"

namespace {

// The system's lists are those of `midi`, which the one port it makes takes over.
class InMemorySystem : public MidiSystem {
public:
    explicit InMemorySystem(std::unique_ptr<FakeConnection>& connection) : connection(connection), midi(*connection) {}
    std::string Name() const override { return "jack"; }
    std::vector<MidiPortEntry> OutputPorts() override { return Entries(midi.outputs); }
    std::vector<MidiPortEntry> InputPorts() override { return Entries(midi.inputs); }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        return std::make_unique<MessagePort>(std::move(connection), settings);
    }
    MidiPortPair PortsFor(const PortSettings& settings) override {
        return ChoosePorts(settings, midi.outputs, midi.inputs);
    }

private:
    static std::vector<MidiPortEntry> Entries(const std::vector<std::string>& names) {
        std::vector<MidiPortEntry> entries;
        for (std::size_t i = 0; i < names.size(); ++i) entries.push_back({static_cast<int>(i), names[i], false});
        return entries;
    }
    std::unique_ptr<FakeConnection>& connection;
    FakeConnection& midi;
};

// A simulated clock during whose sleeps the device's answers arrive.
class AnsweringClock : public SimulatedClock {
public:
    std::function<void()> afterSleep;
    void SleepMs(std::uint32_t ms) override {
        SimulatedClock::SleepMs(ms);
        if (afterSleep) afterSleep();
    }
};

// An output picked by its number names one port; the device answers on the other, which JACK
// lists under another client, as RtMidi makes one client for each direction.
TEST(SendToAPortNumber, HearsTheDeviceOnTheInputOfThatOutput) {
    TempDir dir;
    const std::string path = dir.Write("fw.syx", SysExMessage(600));
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    VirtualDeviceModel model(update, update.winPort, ParseDeviceBehaviour("status=accept"));
    auto connection = std::make_unique<FakeConnection>();
    FakeConnection& midi = *connection;
    midi.outputs = {"Lab Port Seven-01:Lab Port Seven"};
    midi.inputs = {"Other:Lab Port Seven", "Lab Port Seven:Lab Port Seven"};
    AnsweringClock clock;
    ScopedClock use(clock);
    midi.onSend = [&](const Bytes& bytes) { model.Receive(bytes.data(), bytes.size(), clock.NowMs()); };
    clock.afterSleep = [&] {
        for (const Bytes& message : model.TakeDue(clock.NowMs())) midi.Deliver(message);
    };

    const CliRun run = RunWith({"send", path, "--port", "0", "--yes", "--events"},
                               [&](std::string&) { return std::make_unique<InMemorySystem>(connection); });
    EXPECT_EQ(run.status, kExitOk) << run.out;
    EXPECT_EQ(model.GetStats().portionsCompleted, 1u);
    // The preview (on standard error beside JSON) and the events name both ports.
    EXPECT_NE(run.err.find("Send to:     a MIDI port named \"Lab Port Seven-01:Lab Port Seven\" (jack)\n"
                           "Output:      the output port \"Lab Port Seven-01:Lab Port Seven\"\n"
                           "Answers on:  the input port \"Lab Port Seven:Lab Port Seven\"\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("\"event\": \"ports\", \"output\": \"Lab Port Seven-01:Lab Port Seven\", "
                           "\"input\": \"Lab Port Seven:Lab Port Seven\"}"),
              std::string::npos)
        << run.out;
}

}  // namespace
#endif

#ifndef _WIN32
// The same commands over the Windows port and the simulated winmm, with an instrument behind it.
#include "WinmmMidiSystem.h"
#include "VirtualDeviceModel.h"
#include "winmidi/LayerTestSupport.h"

namespace {

class WinmmCommands : public LayerTest {
protected:
    static MidiSystemFactory Winmm() {
        return [](std::string&) { return std::make_unique<WinmmMidiSystem>(); };
    }
};

TEST_F(WinmmCommands, PortsShowsWhatTheSearchSkips) {
    winmm_layer::AddOutput("Microsoft GS Wavetable Synth");
    winmm_layer::AddOutput("2- Pad");
    winmm_layer::AddInput("2- Pad");
    CliRun run = RunWith({"ports"}, Winmm());
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out,
              "MIDI output ports (winmm):\n"
              "  #0  'Microsoft GS Wavetable Synth'  (skipped by the port search)\n"
              "  #1  '2- Pad'\n"
              "MIDI input ports (winmm):\n"
              "  #0  '2- Pad'\n");
}

TEST_F(WinmmCommands, ARawFileSentToThePortPickedByItsListedName) {
    TempDir dir;
    const std::vector<std::uint8_t> firmware = SysExMessage(600);
    const std::string path = dir.Write("fw.syx", firmware);
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    VirtualDeviceModel model(update, update.winPort, ParseDeviceBehaviour("status=accept"));
    winmm_layer::AddOutput("1- Pad");
    const int out = winmm_layer::AddOutput("2- Pad");
    winmm_layer::AddInput("1- Pad");
    const int in = winmm_layer::AddInput("2- Pad");
    winmm_layer::AttachModel(&model, out, in);
    CliRun run = RunWith({"send", path, "--port", "2- Pad", "--yes"}, Winmm());
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(model.Wire(), firmware);
    EXPECT_TRUE(winmm_layer::SentOn(0).empty());
}

// A chunk the system refused is never reported as sent, though the device accepts what it got.
TEST_F(WinmmCommands, ARefusedChunkEndsInTheErrorVerdict) {
    TempDir dir;
    const std::string path = dir.Write("fw.syx", SysExMessage(600));
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    VirtualDeviceModel model(update, update.winPort, ParseDeviceBehaviour("status=none"));
    const int out = winmm_layer::AddOutput("Pad");
    const int in = winmm_layer::AddInput("Pad");
    winmm_layer::AttachModel(&model, out, in);
    winmm_layer::FailCall(winmm_layer::Call::LongMsg, MMSYSERR_NOMEM);
    CliRun run = RunWith({"send", path, "--port", "Pad", "--yes"}, Winmm());
    EXPECT_EQ(run.status, kExitFailed) << run.out;
    EXPECT_NE(run.out.find("There was an error sending the update file."), std::string::npos) << run.out;
}

}  // namespace
#endif
