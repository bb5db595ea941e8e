#include "DeviceSimulator.h"

#include "Clock.h"
#include "Log.h"

namespace {

// How often the simulator looks for input and for messages that are due.
constexpr std::uint32_t kStepMs = 5;

}  // namespace

DeviceSimulator::DeviceSimulator(MidiConnection& midiConnection, SimulatedDevice& simulatedDevice,
                                 std::string name)
    : connection(midiConnection), device(simulatedDevice), portName(std::move(name)) {}

DeviceSimulator::~DeviceSimulator() { ClosePorts(); }

void DeviceSimulator::OnMidiInput(const std::uint8_t* data, std::size_t length) {
    // Logged as it arrives, on the MIDI system's thread: a timed log (--verbose) then tells when
    // each message or piece came, and whether it began or ended a SysEx message.
    if (length != 0)
        LogMessage("DeviceSimulator: in %u bytes: %02X .. %02X\n", static_cast<unsigned>(length), data[0],
                   data[length - 1]);
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
    // What the system lost never arrives: only its own count tells the device.
    device.NoteInputErrors(connection.InputErrors());
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
