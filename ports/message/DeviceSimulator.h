#pragma once
// The transport loop that puts a device model on real MIDI ports: virtual ports named like the
// device, which other programs (midiupdate send among them) find and update. It hands the device
// what arrives, sends what it says when due, and takes the ports away while it "reboots".

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MidiConnection.h"
#include "MidiSystem.h"

// How long a rebooting device stays after its last status went out, so that the host has read it
// (hosts read every 500 ms) before the ports vanish.
constexpr std::uint32_t kStatusSeenMs = 1000;

class DeviceSimulator : public DeviceServer, private MidiInputHandler {
public:
    DeviceSimulator(MidiConnection& connection, SimulatedDevice& device, std::string portName);
    ~DeviceSimulator() override;

    bool Run(std::uint64_t timeoutMs) override;
    void OnArrival(std::function<void(const SimulatedDevice&)> callback) override { onArrival = std::move(callback); }
    std::uint64_t MessagesIn() const override { return messagesIn; }
    std::uint64_t MessagesOut() const override { return messagesOut; }

    // Run's parts, for a transport whose loop is driven from outside (a page's timer): open the
    // ports, then one step of input, answers and reboots at each tick, then close them.
    bool OpenPorts();
    void Step(std::uint64_t nowMs);
    void ClosePorts();

private:
    void OnMidiInput(const std::uint8_t* data, std::size_t length) override;
    void TakeArrived(std::uint64_t nowMs);

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
