// The computer is kept awake for exactly the sending of a real update, however that ends.

#include <gtest/gtest.h>

#include <stdexcept>

#include "CliTestSupport.h"
#include "FakeKeepAwake.h"
#include "MidiSystem.h"

namespace {

enum class PortEnd { Quiet, Throws, Cancels };

// How the port ends the run, and what it saw: chunks, and chunks sent while the computer was held
// awake.
struct PortLog {
    PortEnd end = PortEnd::Quiet;
    int chunks = 0;
    int chunksAwake = 0;
};

// Takes chunks like a device that never answers; at the first one it ends the run as asked.
class AwakeCheckingPort : public QuietPort {
public:
    explicit AwakeCheckingPort(PortLog& log) : log(log) {}
    void Send(const std::uint8_t*, std::uint32_t) override {
        ++log.chunks;
        if (FakeAwake().held == 1) ++log.chunksAwake;
        if (log.end == PortEnd::Throws) throw std::runtime_error("the port broke");
        if (log.end == PortEnd::Cancels) RequestCancel();  // Ctrl-C: the next wait unwinds the run
    }

private:
    PortLog& log;
};

class OnePortSystem : public MidiSystem {
public:
    explicit OnePortSystem(PortLog& log) : log(log) {}
    std::string Name() const override { return "test"; }
    std::vector<MidiPortEntry> OutputPorts() override { return {{0, "Pad Port", false}}; }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings&) override {
        return std::make_unique<AwakeCheckingPort>(log);
    }

private:
    PortLog& log;
};

struct AwakeCase {
    const char* name;
    std::vector<std::string> options;
    PortEnd end;
    int status;
    bool kept;  // a guard was taken (and released by the end)
};

TEST(SendKeepsAwake, OnlyWhileARealDeviceIsSentToAndReleasesHoweverTheRunEnds) {
    const AwakeCase cases[] = {
        {"dry run", {"--dry-run"}, PortEnd::Quiet, kExitOk, false},
        {"virtual device", {"--virtual"}, PortEnd::Quiet, kExitOk, false},
        {"declined without a terminal", {}, PortEnd::Quiet, kExitUsage, false},
        {"sent, device silent", {"--yes"}, PortEnd::Quiet, kExitUnconfirmed, true},
        {"the port fails", {"--yes"}, PortEnd::Throws, kExitFailed, true},
        {"interrupted", {"--yes"}, PortEnd::Cancels, kExitCancelled, true},
    };
    TempDir dir;
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {1, 5};
    contents.portSettings = {"win:x:name:Pad Port"};
    contents.portions.push_back({SysExMessage(40), 0});
    const std::string path = dir.WriteUpdate("fw.upd", contents);
    for (const AwakeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAwake() = {};
        PortLog port{c.end};
        std::vector<std::string> args = {"send", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        SimulatedClock clock;  // the silent device's waits take no real time
        ScopedClock use(clock);
        const CliRun run = RunMidiUpdateWith(args, [&](CliIo& io) {
            io.openMidiSystem = [&](std::string&) { return std::make_unique<OnePortSystem>(port); };
        });
        ResetCancel();
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(FakeAwake().held, 0);
        if (c.kept) {
            EXPECT_EQ(FakeAwake().events, (std::vector<std::string>{"take: Updating firmware", "release"}));
            EXPECT_GT(port.chunks, 0);
            EXPECT_EQ(port.chunksAwake, port.chunks);
        } else {
            EXPECT_TRUE(FakeAwake().events.empty());
        }
    }
}

}  // namespace
