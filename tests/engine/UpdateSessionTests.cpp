// The update session that every front end runs: the names its port looks for, the port it asks the
// MIDI system for, the verdict it passes on, and what a failure on the way becomes.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "FakeKeepAwake.h"
#include "ScriptedPort.h"
#include "UpdateSession.h"

namespace {

// Makes a scripted port for the settings it is asked for, and records them.
class ScriptedSystem : public MidiSystem {
public:
    std::function<void(ScriptedPort&)> script = [](ScriptedPort&) {};
    std::function<void()> makeFails;
    std::vector<PortSettings> made;
    int awakeDuringSends = -1;  // guards held while the last port sent, as seen by that port

    std::string Name() const override { return "scripted"; }
    std::vector<MidiPortEntry> OutputPorts() override { return {}; }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        made.push_back(settings);
        if (makeFails) makeFails();
        auto port = std::make_unique<AwakeSeeingPort>(awakeDuringSends);
        script(*port);
        return port;
    }

private:
    struct AwakeSeeingPort : ScriptedPort {
        explicit AwakeSeeingPort(int& seen) : seen(seen) {}
        void Send(const std::uint8_t* data, std::uint32_t length) override {
            seen = FakeAwake().held;
            ScriptedPort::Send(data, length);
        }
        int& seen;
    };
};

Update PadUpdate() {
    Update update;
    update.productName = "Pad";
    update.version = {1, 5};
    update.winPort.names = {"Pad", "Pad MIDI"};
    update.winPort.ideal = 256;
    update.winPort.delay = 7;
    update.winPort.chunks = false;
    update.macNames = {"Pad (Mac)"};
    update.portions.push_back({{0xF0, 0x01, 0x02, 0xF7}, 0});
    return update;
}

class UpdateSessionTest : public ::testing::Test {
protected:
    void SetUp() override { FakeAwake() = {}; }
    SimulatedClock clock{0};
    ScopedClock useClock{clock};
    RecordingProgress progress;
    ScriptedSystem system;
    const Update update = PadUpdate();
};

}  // namespace

TEST_F(UpdateSessionTest, NamesArePickedByHandOrTheFilesForThePlatformAndPacingIsTheFiles) {
    struct Case {
        const char* what;
        HostPlatform platform;
        std::string picked;
        std::set<std::string> names;
        bool byHand;
    };
    const Case cases[] = {
        {"the file's names", HostPlatform::Windows, "", {"Pad", "Pad MIDI"}, false},
        {"the file's names on Linux", HostPlatform::Linux, "", {"Pad", "Pad MIDI"}, false},
        {"the Mac records on macOS", HostPlatform::MacOS, "", {"Pad (Mac)"}, false},
        {"a port picked by hand, alone", HostPlatform::Windows, "USB MIDI", {"USB MIDI"}, true},
        {"a port picked by hand on macOS", HostPlatform::MacOS, "USB MIDI", {"USB MIDI"}, true},
    };
    for (const Case& c : cases) {
        UpdateSession session(update, RunPortSettings(update, c.platform, c.picked));
        EXPECT_TRUE(session.Run(system, progress).completed) << c.what;
        const PortSettings& asked = system.made.back();
        EXPECT_EQ(asked.names, c.names) << c.what;
        EXPECT_EQ(asked.pickedByHand, c.byHand) << c.what;
        EXPECT_EQ(asked.ideal, 256) << c.what;
        EXPECT_EQ(asked.delay, 7) << c.what;
        EXPECT_FALSE(asked.chunks) << c.what;
    }
    // No run writes its choice into the loaded update.
    EXPECT_EQ(update.winPort.names, (std::set<std::string>{"Pad", "Pad MIDI"}));
    EXPECT_FALSE(update.winPort.pickedByHand);
}

TEST_F(UpdateSessionTest, PassesOnTheRunsVerdictWithTheComputerKeptAwakeForIt) {
    struct Case {
        const char* what;
        std::function<void(ScriptedPort&)> script;
        UpdateVerdict verdict;
    };
    const Case cases[] = {
        {"accepted", [](ScriptedPort& p) { p.repliesToSends = {StatusMessage(0x00)}; },
         UpdateVerdict::Updated},
        {"silent", [](ScriptedPort&) {}, UpdateVerdict::SentCheckDevice},
        {"failed", [](ScriptedPort& p) { p.repliesToSends = {StatusMessage(0x01)}; },
         UpdateVerdict::DeviceError},
    };
    for (const Case& c : cases) {
        system.script = c.script;
        UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, ""));
        const UpdateOutcome outcome = session.Run(system, progress);
        EXPECT_TRUE(outcome.completed) << c.what;
        EXPECT_EQ(outcome.verdict, c.verdict) << c.what;
        EXPECT_EQ(system.awakeDuringSends, 1) << c.what;
        EXPECT_EQ(FakeAwake().held, 0) << c.what;
    }
}

TEST_F(UpdateSessionTest, AFailureOnTheWayIsTheReasonForTheFailureBoxAndACancelGoesOn) {
    struct Case {
        const char* what;
        std::function<void()> fail;
        std::string failure;
        bool known;
    };
    const Case cases[] = {
        {"the system cannot make the port", [] { throw std::runtime_error("winmm refused"); }, "winmm refused", true},
        {"a file error", [] { throw ParseError("Trucated sysex"); }, "Trucated sysex", true},
        {"something not an exception", [] { throw 42; }, "Unknown reason", false},
    };
    for (const Case& c : cases) {
        system.makeFails = c.fail;
        UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, ""));
        const UpdateOutcome outcome = session.Run(system, progress);
        EXPECT_FALSE(outcome.completed) << c.what;
        EXPECT_EQ(outcome.failure, c.failure) << c.what;
        EXPECT_EQ(outcome.failureKnown, c.known) << c.what;
    }
    system.makeFails = [] { throw RunCancelled(); };
    UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, ""));
    EXPECT_THROW(session.Run(system, progress), RunCancelled);
}

TEST_F(UpdateSessionTest, TheCallersPortGoesAroundTheSystems) {
    int wrapped = 0;
    UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, ""));
    session.WrapPort([&](std::unique_ptr<MidiPort> port) {
        ++wrapped;
        return port;
    });
    EXPECT_TRUE(session.Run(system, progress).completed);
    EXPECT_EQ(wrapped, 1);
}
