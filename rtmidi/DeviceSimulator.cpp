#include "DeviceSimulator.h"

#include <cstring>

#include "Clock.h"
#include "Log.h"
#include "UpdateModeInput.h"
#include "UpdateStatus.h"

namespace {

// How often the simulator looks for input and for messages that are due.
constexpr std::uint32_t kStepMs = 5;

class FileDevice : public SimulatedDevice {
public:
    FileDevice(const Update& update, const PortSettings& settings, const DeviceBehaviour& behaviour)
        : model(update, settings, behaviour) {}
    void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) override {
        model.Receive(data, length, nowMs);
    }
    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) override { return model.TakeDue(nowMs); }
    bool Online(std::uint64_t nowMs) const override { return model.Online(nowMs); }
    bool RebootPending() const override { return model.RebootPending(); }
    void StartReboot(std::uint64_t nowMs) override { model.StartReboot(nowMs); }
    std::string Report() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        std::string text = FormatString("Received %llu of %llu bytes in %u messages\n",
                                        static_cast<unsigned long long>(s.bytesReceived),
                                        static_cast<unsigned long long>(model.WireBytesExpected()),
                                        static_cast<unsigned>(s.chunksReceived));
        text += FormatString("Portions complete: %u of %u, %u corrupt; unexpected bytes: %llu; Identity Requests: %u\n",
                             static_cast<unsigned>(s.portionsCompleted), static_cast<unsigned>(model.PortionsExpected()),
                             static_cast<unsigned>(s.portionsCorrupt),
                             static_cast<unsigned long long>(s.bytesUnexpected),
                             static_cast<unsigned>(s.identityRequests));
        text += IgnoredMessagesText(s.ignored);
        if (s.restarts != 0)
            text += FormatString("Started over %u time%s: a new update began after an interrupted one; the "
                                 "counts above are the last one's\n",
                                 static_cast<unsigned>(s.restarts), s.restarts == 1 ? "" : "s");
        if (Satisfied())
            text += "Verdict: every byte arrived as the file says.\n";
        else if (s.portionsCorrupt != 0 || s.bytesUnexpected != 0)
            text += "Verdict: the data differs from the file.\n";
        else
            text += "Verdict: the update did not arrive in full.\n";
        return text;
    }
    bool Satisfied() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        return model.AllPortionsReceived() && s.portionsCorrupt == 0 && s.bytesUnexpected == 0;
    }
    std::string ArrivedLine() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        return FormatString("Received %llu of %llu bytes; portions complete: %u of %u",
                            static_cast<unsigned long long>(s.bytesReceived),
                            static_cast<unsigned long long>(model.WireBytesExpected()),
                            static_cast<unsigned>(s.portionsCompleted),
                            static_cast<unsigned>(model.PortionsExpected()));
    }
    std::string StepLine() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        std::string line = FormatString("Portions complete: %u of %u, %u corrupt",
                                        static_cast<unsigned>(s.portionsCompleted),
                                        static_cast<unsigned>(model.PortionsExpected()),
                                        static_cast<unsigned>(s.portionsCorrupt));
        if (s.restarts != 0)
            line += FormatString(" (started over %u time%s)", static_cast<unsigned>(s.restarts),
                                 s.restarts == 1 ? "" : "s");
        return line;
    }

private:
    VirtualDeviceModel model;
};

class AnySysExDevice : public SimulatedDevice, private UpdateModeInput::Device {
public:
    explicit AnySysExDevice(const DeviceBehaviour& behaviour) : behaviour(behaviour) {}

    void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) override {
        if (length == 0) return;
        if (!inMessage && length == sizeof(IdentityRequest) &&
            std::memcmp(data, IdentityRequest, sizeof(IdentityRequest)) == 0) {
            ++identityRequests;
            if (behaviour.identityEnabled)
                due.push_back({nowMs + kDeviceIdentityMs,
                               MakeIdentityReply(behaviour.identity.value_or(FirmwareVersion{1, 0}), "Simulator")});
            return;
        }
        const std::uint64_t bytesBefore = bytes;
        for (std::size_t i = 0; i < length; ++i) input.Add(data[i], *this, ignored);
        // Only SysEx (and whatever else is not set aside) restarts the quiet second.
        if (bytes == bytesBefore) return;
        lastByteMs = nowMs;
        waiting = true;
    }

    void Tick(std::uint64_t nowMs) override {
        if (!waiting || nowMs < lastByteMs + kQuietMs) return;
        waiting = false;
        ++reports;
        messagesAtReport = messages;
        std::uint64_t at = nowMs;
        const bool reboots = behaviour.offlineMs > 0;
        switch (behaviour.status) {
            case DeviceBehaviour::StatusMode::None:
                if (reboots) GoOffline(at);
                return;
            case DeviceBehaviour::StatusMode::Fail:
                due.push_back({at, MakeStatusMessage(kStatusFailed), reboots});
                return;
            case DeviceBehaviour::StatusMode::Install:
                for (std::uint32_t i = 0; i < behaviour.installCount; ++i, at += kDeviceInstallStepMs)
                    due.push_back({at, MakeStatusMessage(kStatusInstalling), false});
                break;
            case DeviceBehaviour::StatusMode::Accept: break;
        }
        due.push_back({at, MakeStatusMessage(kStatusAccepted), reboots});
    }

    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) override {
        std::vector<std::vector<std::uint8_t>> out;
        while (!due.empty() && due.front().atMs <= nowMs) {
            out.push_back(std::move(due.front().message));
            if (due.front().rebootsAfter) rebootPending = true;
            due.pop_front();
        }
        return out;
    }
    bool Online(std::uint64_t nowMs) const override { return nowMs < offlineFromMs || nowMs >= offlineUntilMs; }
    bool RebootPending() const override { return rebootPending; }
    void StartReboot(std::uint64_t nowMs) override {
        rebootPending = false;
        GoOffline(nowMs);
    }
    std::string Report() const override {
        std::string text = FormatString("Received %llu bytes, %llu complete SysEx messages\n",
                                        static_cast<unsigned long long>(bytes),
                                        static_cast<unsigned long long>(messages));
        text += FormatString("Status reports: %u; Identity Requests: %u\n", static_cast<unsigned>(reports),
                             static_cast<unsigned>(identityRequests));
        text += IgnoredMessagesText(ignored);
        text += Satisfied() ? "Verdict: SysEx arrived (no file to check it against).\n"
                            : "Verdict: no SysEx arrived.\n";
        return text;
    }
    bool Satisfied() const override { return messages > 0; }
    std::string ArrivedLine() const override {
        return FormatString("Received %llu bytes, %llu complete SysEx messages",
                            static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(messages));
    }
    std::string StepLine() const override {
        return FormatString("Answered %u time%s, after %llu SysEx messages", static_cast<unsigned>(reports),
                            reports == 1 ? "" : "s", static_cast<unsigned long long>(messagesAtReport));
    }

private:
    struct Due {
        std::uint64_t atMs;
        std::vector<std::uint8_t> message;
        bool rebootsAfter = false;
    };
    void GoOffline(std::uint64_t fromMs) {
        offlineFromMs = fromMs;
        offlineUntilMs = fromMs + behaviour.offlineMs;
    }
    // Without a file nothing outside SysEx is expected.
    bool Expects(const std::uint8_t*, std::size_t) const override { return false; }
    void TakeFirmware(std::uint8_t b) override {
        ++bytes;
        if (b == 0xF0) inMessage = true;
        if (b == 0xF7 && inMessage) {
            inMessage = false;
            ++messages;
        }
    }

    DeviceBehaviour behaviour;
    UpdateModeInput input;
    IgnoredMessages ignored;
    bool inMessage = false;
    bool waiting = false;
    bool rebootPending = false;
    std::uint64_t lastByteMs = 0;
    std::uint64_t bytes = 0;
    std::uint64_t messages = 0;
    std::uint32_t reports = 0;
    std::uint64_t messagesAtReport = 0;
    std::uint32_t identityRequests = 0;
    std::uint64_t offlineFromMs = 0;
    std::uint64_t offlineUntilMs = 0;
    std::deque<Due> due;
};

}  // namespace

std::unique_ptr<SimulatedDevice> MakeFileDevice(const Update& update, const PortSettings& settings,
                                                const DeviceBehaviour& behaviour) {
    return std::make_unique<FileDevice>(update, settings, behaviour);
}

std::unique_ptr<SimulatedDevice> MakeAnySysExDevice(const DeviceBehaviour& behaviour) {
    return std::make_unique<AnySysExDevice>(behaviour);
}

DeviceSimulator::DeviceSimulator(MidiConnection& midiConnection, SimulatedDevice& simulatedDevice,
                                 std::string name)
    : connection(midiConnection), device(simulatedDevice), portName(std::move(name)) {}

DeviceSimulator::~DeviceSimulator() { ClosePorts(); }

void DeviceSimulator::OnMidiInput(const std::uint8_t* data, std::size_t length) {
    std::lock_guard<std::mutex> guard(arrivedLock);
    arrived.emplace_back(data, data + length);
}

bool DeviceSimulator::OpenPorts() {
    const bool ok = connection.OpenVirtualInput(portName, *this) && connection.OpenVirtualOutput(portName);
    open = ok;
    LogMessage("DeviceSimulator: ports '%s' %s\n", portName.c_str(), ok ? "open" : "could not be opened");
    if (!ok) ClosePorts();
    return ok;
}

void DeviceSimulator::ClosePorts() {
    connection.CloseInput();
    connection.CloseOutput();
    if (open) LogMessage("DeviceSimulator: ports '%s' closed\n", portName.c_str());
    open = false;
}

void DeviceSimulator::TakeArrived(std::uint64_t nowMs) {
    std::deque<std::vector<std::uint8_t>> taken;
    {
        std::lock_guard<std::mutex> guard(arrivedLock);
        taken.swap(arrived);
    }
    for (const std::vector<std::uint8_t>& message : taken) {
        ++messagesIn;
        device.Receive(message.data(), message.size(), nowMs);
    }
}

void DeviceSimulator::Step(std::uint64_t nowMs) {
    TakeArrived(nowMs);
    device.Tick(nowMs);
    if (onArrival) onArrival(device);
    for (const std::vector<std::uint8_t>& message : device.TakeDue(nowMs)) {
        if (!open) continue;  // a device that is away says nothing
        ++messagesOut;
        if (!connection.SendMessage(message.data(), message.size()))
            LogMessage("DeviceSimulator: could not send %u bytes\n", static_cast<unsigned>(message.size()));
    }
    if (device.RebootPending()) {
        if (!rebootPendingSince) rebootPendingSince = nowMs;
        if (nowMs >= *rebootPendingSince + kStatusSeenMs) {
            rebootPendingSince.reset();
            device.StartReboot(nowMs);
        }
    }
    const bool online = device.Online(nowMs);
    if (open && !online) {
        LogMessage("DeviceSimulator: rebooting, the ports go away\n");
        ClosePorts();
    } else if (!open && online) {
        LogMessage("DeviceSimulator: back\n");
        OpenPorts();
    }
}

bool DeviceSimulator::Run(std::uint64_t timeoutMs) {
    if (!OpenPorts()) return false;
    Clock& clock = CurrentClock();
    const std::uint64_t start = clock.NowMs();
    try {
        for (;;) {
            const std::uint64_t now = clock.NowMs();
            Step(now);
            if (timeoutMs != 0 && now >= start + timeoutMs) break;
            SleepMs(kStepMs);
        }
    } catch (const RunCancelled&) {
        LogMessage("DeviceSimulator: stopped\n");
    }
    ClosePorts();
    // Whatever arrived last still counts.
    TakeArrived(clock.NowMs());
    return true;
}
