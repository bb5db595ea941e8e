#pragma once
// An instrument in update mode on real MIDI ports: virtual ports named like the device, which
// other programs (midiupdate send among them) find and update. It takes what arrives, answers as
// the virtual device does, goes away from the MIDI system while it "reboots", and reports what it
// received.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MidiConnection.h"
#include "VirtualDeviceModel.h"

// What the simulator asks of the device it plays.
class SimulatedDevice {
public:
    virtual ~SimulatedDevice() = default;
    virtual void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) = 0;
    // Lets time pass with nothing received (for a device that answers after a quiet spell).
    virtual void Tick(std::uint64_t nowMs) { (void)nowMs; }
    virtual std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) = 0;
    virtual bool Online(std::uint64_t nowMs) const = 0;
    virtual bool RebootPending() const = 0;
    virtual void StartReboot(std::uint64_t nowMs) = 0;
    // Lines telling what arrived, and the verdict.
    virtual std::string Report() const = 0;
    // While it runs: one line on what has arrived so far, and one that changes only when a step
    // of the update is done (a portion received, or for a device without a file, an answer).
    virtual std::string ArrivedLine() const = 0;
    virtual std::string StepLine() const = 0;
    // True when what arrived is what the device expected.
    virtual bool Satisfied() const = 0;
};

// The device an update file describes: every byte is checked against the file.
std::unique_ptr<SimulatedDevice> MakeFileDevice(const Update& update, const PortSettings& settings,
                                                const DeviceBehaviour& behaviour);
// A device without a file: it takes any SysEx and reports its status after a quiet second.
std::unique_ptr<SimulatedDevice> MakeAnySysExDevice(const DeviceBehaviour& behaviour);

// How long after a quiet spell the device without a file reports.
constexpr std::uint32_t kQuietMs = 1000;
// How long a rebooting device stays after its last status went out, so that the host has read it
// (hosts read every 500 ms) before the ports vanish.
constexpr std::uint32_t kStatusSeenMs = 1000;

class DeviceSimulator : private MidiInputHandler {
public:
    DeviceSimulator(MidiConnection& connection, SimulatedDevice& device, std::string portName);
    ~DeviceSimulator() override;

    // Opens the ports and serves until `timeoutMs` has passed (0: until cancelled), then closes
    // them. A cancellation (Ctrl-C) ends it normally. False when the ports could not be opened.
    bool Run(std::uint64_t timeoutMs);

    // Called on Run's thread after each look at the input, to show what the device has seen so
    // far (the lines change only when something arrived or was answered).
    void OnArrival(std::function<void(const SimulatedDevice&)> callback) { onArrival = std::move(callback); }

    std::uint64_t MessagesIn() const { return messagesIn; }
    std::uint64_t MessagesOut() const { return messagesOut; }

private:
    void OnMidiInput(const std::uint8_t* data, std::size_t length) override;
    bool OpenPorts();
    void ClosePorts();
    void TakeArrived(std::uint64_t nowMs);
    void Step(std::uint64_t nowMs);

    MidiConnection& connection;
    SimulatedDevice& device;
    std::string portName;
    bool open = false;
    std::optional<std::uint64_t> rebootPendingSince;
    std::uint64_t messagesIn = 0;
    std::uint64_t messagesOut = 0;

    std::function<void(const SimulatedDevice&)> onArrival;
    std::mutex arrivedLock;  // filled on the MIDI system's thread, emptied by Run
    std::deque<std::vector<std::uint8_t>> arrived;
};
