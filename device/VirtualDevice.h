#pragma once
// A MidiPort that talks straight to a virtual device model, with no operating system MIDI between:
// it frames and paces chunks as a real port does, and delivers what the device sends back, through
// the port's SysEx reassembly, when the caller next reads the port. So it runs the same on the real
// clock (in real time) and on a simulated one (instantly). For a forecast it may also wait as a
// MIDI system between host and device would (TransportPacing).

#include <cstdint>
#include <vector>

#include "ChunkFraming.h"
#include "MidiPort.h"
#include "MidiSystem.h"
#include "VirtualDeviceModel.h"

class VirtualDevice : public MidiPort {
public:
    // `transport`, when given (it must outlive the device), is told what goes out and waits as that
    // MIDI system would before the device has it.
    VirtualDevice(const Update& update, const PortSettings& settings, DeviceBehaviour behaviour,
                  TransportPacing* transport = nullptr);
    ~VirtualDevice() override;

    std::int32_t GetIdealChunkSize() override;
    std::int32_t GetMaxChunkSize() override;
    bool SendsWholeMessages() override { return settings.wholeMessages; }
    bool IsConnected() override;
    void Disconnect() override;
    void Send(const std::uint8_t* data, std::uint32_t length) override;
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override;
    std::vector<std::uint8_t> GetSysEx() override;
    void ClearSysEx() override;

    using Stats = VirtualDeviceModel::Stats;
    const Stats& GetStats() const { return model.GetStats(); }
    const std::vector<std::uint8_t>& Wire() const { return model.Wire(); }
    // The largest message the port's reassembly has held since the device was made.
    std::size_t LargestAssembly() const { return largestAssembly; }

private:
    void DeliverDue();

    PortSettings settings;
    ChunkPacing pacing;
    VirtualDeviceModel model;
    TransportPacing* transport;
    bool open = false;
    std::size_t largestAssembly = 0;
};
