// A dry run's estimate against a real run through a MIDI system's pacing: the dry run over the ALSA
// sequencer's limits must take as long as the port of that system really takes over them.

#include <algorithm>

#include "CliTestSupport.h"

#if __has_include("PiecePacing.h")
#include <fstream>
#include <functional>
#include <memory>

#include "PiecePacing.h"
#include "MessagePort.h"
#include "VirtualDeviceModel.h"
#include "message/FakeConnection.h"

namespace {

// The test keeps the connection; the port it is lent to owns this stand-in.
class LentConnection : public MidiConnection {
public:
    explicit LentConnection(FakeConnection& midi) : midi(midi) {}
    std::vector<std::string> OutputNames() override { return midi.OutputNames(); }
    std::vector<std::string> InputNames() override { return midi.InputNames(); }
    bool OpenOutput(unsigned index) override { return midi.OpenOutput(index); }
    bool OpenInput(unsigned index, MidiInputHandler& handler) override { return midi.OpenInput(index, handler); }
    bool OpenVirtualOutput(const std::string& name) override { return midi.OpenVirtualOutput(name); }
    bool OpenVirtualInput(const std::string& name, MidiInputHandler& handler) override {
        return midi.OpenVirtualInput(name, handler);
    }
    void CloseOutput() override { midi.CloseOutput(); }
    void CloseInput() override { midi.CloseInput(); }
    bool OutputOpen() const override { return midi.OutputOpen(); }
    bool InputOpen() const override { return midi.InputOpen(); }
    bool SendMessage(const std::uint8_t* data, std::size_t length) override { return midi.SendMessage(data, length); }
    TransportLimits Limits() const override { return midi.Limits(); }
    std::string ApiName() const override { return midi.ApiName(); }

private:
    FakeConnection& midi;
};

// The ALSA sequencer as far as a run can tell: message ports over the connection.
class AlsaLikeSystem : public MidiSystem {
public:
    explicit AlsaLikeSystem(FakeConnection& midi) : midi(midi) {}
    std::string Name() const override { return "alsa"; }
    std::vector<MidiPortEntry> OutputPorts() override { return {}; }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        return std::make_unique<MessagePort>(std::make_unique<LentConnection>(midi), settings);
    }

private:
    FakeConnection& midi;
};

std::unique_ptr<TransportPacing> PacingFor(const std::string& api) {
    return std::make_unique<PiecePacing>(api, MidiSystemLimits(api));
}

// The verdict's time in --events output: how long the whole run took.
std::uint64_t RunMs(const CliRun& run) {
    const std::string verdict = run.OutLines().empty() ? std::string() : run.OutLines().back();
    return std::stoull(verdict.substr(6, verdict.find(',') - 6));
}

}  // namespace

TEST(SendDryRun, OverAMidiSystemTakesAsLongAsItsPortReallyDoes) {
    // 64 KB in messages of 1000 bytes with short pauses: faster than a cable takes it, so the
    // system's queue fills and its drain sets the pace. Framed chunks, and chunks cut inside
    // messages (whose short ends a system that encodes events keeps for the next chunk).
    const struct Case {
        const char* name;
        const char* pacing;
    } cases[] = {
        {"framed chunks", "win:x:name:Pad:ideal:1024:max:3072:delay:20:unprepdelay:0"},
        {"chunks as cut", "win:x:name:Pad:ideal:700:max:700:delay:5:unprepdelay:5:chunks:no"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        UpdateFileContents contents;
        contents.productName = "Pad";
        contents.version = {1, 5};
        contents.portSettings = {c.pacing};
        contents.macNames = {"Pad"};
        std::vector<std::uint8_t> portion;
        for (int i = 0; i < 64; ++i) {
            const std::vector<std::uint8_t> message = SysExMessage(1000, static_cast<std::uint8_t>(0x20 + i));
            portion.insert(portion.end(), message.begin(), message.end());
        }
        contents.portions.push_back({portion, 0});
        const std::string path = dir.WriteUpdate("fw.upd", contents);

        const CliRun dry = RunMidiUpdateWith({"send", path, "--dry-run", "--events", "--api", "alsa"},
                               [](CliIo& io) { io.transportPacing = PacingFor; });
        ASSERT_EQ(dry.status, kExitOk) << dry.err;
        const CliRun unknown = RunMidiUpdate({"send", path, "--dry-run", "--events"});
        ASSERT_EQ(unknown.status, kExitOk) << unknown.err;

        // The real run: the port over a connection with the sequencer's limits, and behind it the
        // device the dry run models, answering when due while the program waits.
        std::ifstream file(path, std::ios::binary);
        const Update update(file);
        VirtualDeviceModel device(update, update.winPort, DeviceBehaviour{});
        FakeConnection midi;
        midi.outputs = midi.inputs = {"Pad"};
        midi.limits = MidiSystemLimits("alsa");
        HookedClock clock;
        ScopedClock use(clock);
        midi.onSend = [&](const Bytes& piece) { device.Receive(piece.data(), piece.size(), clock.NowMs()); };
        clock.afterSleep = [&](std::uint64_t now) {
            for (const Bytes& message : device.TakeDue(now)) midi.Deliver(message);
        };
        const CliRun real = RunMidiUpdateWith({"send", path, "--yes", "--events"}, [&](CliIo& io) {
            io.openMidiSystem = [&](std::string&) { return std::make_unique<AlsaLikeSystem>(midi); };
            io.transportPacing = PacingFor;
        });
        ASSERT_EQ(real.status, kExitOk) << real.err;
        EXPECT_EQ(midi.Wire(), portion);  // every byte went through the port, cut in pieces

        // Every report at the same time, the verdict's time being the whole run's; only a real port
        // names the ports it opened.
        std::vector<std::string> realReports = real.OutLines();
        realReports.erase(std::remove_if(realReports.begin(), realReports.end(),
                                         [](const std::string& line) {
                                             return line.find("\"event\": \"ports\"") != std::string::npos;
                                         }),
                          realReports.end());
        EXPECT_EQ(dry.OutLines(), realReports);
        EXPECT_NE(dry.err.find("Dry run: on a real device over alsa this update would take about"), std::string::npos)
            << dry.err;
        EXPECT_NE(dry.err.find("(" + std::to_string(RunMs(real)) + " ms)"), std::string::npos) << dry.err;
        // Where the system is not known, the estimate is the lower bound it says it is.
        EXPECT_LT(RunMs(unknown), RunMs(real));
        EXPECT_NE(unknown.err.find("would take at least"), std::string::npos) << unknown.err;
    }
}
#endif
