#include "VirtualDevice.h"

#include <algorithm>
#include <cstring>

#include "Clock.h"
#include "Log.h"
#include "UpdateStatus.h"

VirtualDevice::VirtualDevice(const Update& update, const PortSettings& portSettings,
                             DeviceBehaviour behaviour, TransportPacing* transportPacing)
    : settings(portSettings),
      pacing{portSettings.delay, portSettings.unprepDelay},
      model(update, portSettings, std::move(behaviour)),
      transport(transportPacing) {}

// Like a real port, the device is closed when it goes, also when a run is cut short.
VirtualDevice::~VirtualDevice() { Disconnect(); }

std::int32_t VirtualDevice::GetIdealChunkSize() { return settings.ideal; }

std::int32_t VirtualDevice::GetMaxChunkSize() { return settings.max; }

bool VirtualDevice::IsConnected() {
    DeliverDue();
    const bool online = model.Online(CurrentClock().NowMs());
    // A device that went away takes the open port with it, as a real port loses its device.
    const bool opening = online && !open;
    open = online;
    if (opening) {
        LogMessage("VirtualDevice: port opened\n");
        if (transport) transport->Opened();
    }
    return online;
}

void VirtualDevice::Disconnect() {
    if (open) {
        if (transport) transport->Flush();
        LogMessage("VirtualDevice: port closed\n");
    }
    open = false;
}

void VirtualDevice::Send(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0) return;  // a real port does not even try to connect for nothing
    const std::vector<std::uint8_t> framed = FrameChunk(data, length, settings.chunks);
    if (!IsConnected()) {
        model.SendLost();
        NoteSendFailure();
        LogMessage("VirtualDevice: %u bytes lost, the device is offline\n",
                   static_cast<unsigned>(framed.size()));
        return;
    }
    // The device has the chunk once the system in between has carried its last byte.
    if (transport) transport->Carry(framed.data(), framed.size());
    model.Receive(framed.data(), framed.size(), CurrentClock().NowMs());
    pacing.AfterHandOver();
    pacing.AfterRelease();
}

std::vector<std::uint8_t> VirtualDevice::Query(std::uint32_t limit, const std::uint8_t* request,
                                               std::uint32_t length) {
    if (transport && open) transport->Flush();
    DeliverDue();
    const std::uint64_t nowMs = CurrentClock().NowMs();
    const bool isIdentityRequest = request != nullptr && length == sizeof(IdentityRequest) &&
                                   std::memcmp(request, IdentityRequest, sizeof(IdentityRequest)) == 0;
    std::optional<std::uint64_t> replyAtMs;
    if (isIdentityRequest) {
        replyAtMs = model.IdentityRequested(nowMs);
    } else {
        LogMessage("VirtualDevice: no answer to a request of %u bytes\n",
                   static_cast<unsigned>(length));
    }
    if (!replyAtMs || *replyAtMs - nowMs > limit) {
        // No answer in time; a late reply still arrives afterwards, as a real one would.
        SleepMs(limit);
        DeliverDue();
        return {};
    }
    SleepMs(static_cast<std::uint32_t>(*replyAtMs - nowMs));
    DeliverDue();
    return MidiPort::GetSysEx();
}

std::vector<std::uint8_t> VirtualDevice::GetSysEx() {
    DeliverDue();
    std::vector<std::uint8_t> message = MidiPort::GetSysEx();
    // The status has reached the host, so the device may go: it reboots only once its last status
    // is out, like an instrument that restarts after reporting.
    if (model.RebootPending() && !message.empty()) {
        model.StartReboot(CurrentClock().NowMs());
        open = false;
    }
    return message;
}

void VirtualDevice::ClearSysEx() {
    DeliverDue();
    MidiPort::ClearSysEx();
}

void VirtualDevice::DeliverDue() {
    // Through the port's own reassembly, so that a newer message replaces an unread older one
    // exactly as on a real port.
    const std::uint64_t nowMs = CurrentClock().NowMs();
    for (const std::vector<std::uint8_t>& message : model.TakeDue(nowMs)) {
        assembler.AddBytes(message.data(), message.size());
        largestAssembly = std::max(largestAssembly, assembler.buffer.size());
    }
    // An endless stream arrives as an input layer delivers it, in buffers of bounded size.
    std::uint64_t remaining = model.TakeStreamDue(nowMs);
    std::uint64_t index = model.StreamTaken() - remaining;
    std::uint8_t block[4096];
    while (remaining > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sizeof block));
        for (std::size_t i = 0; i < n; ++i) block[i] = VirtualDeviceModel::StreamByte(index + i);
        assembler.AddBytes(block, n);
        largestAssembly = std::max(largestAssembly, assembler.buffer.size());
        index += n;
        remaining -= n;
    }
}
