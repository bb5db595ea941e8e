#pragma once
// An instrument in update mode as seen from its MIDI cable, with no operating system MIDI: it takes
// the bytes that arrive on its input, checks them against the update it expects, and schedules the
// messages it sends back. A pure state machine on the times it is given, so any transport can carry
// it: a MidiPort that calls it directly, a simulated operating system MIDI layer, or real MIDI ports.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PortSettings.h"
#include "Update.h"
#include "DeviceBehaviour.h"
#include "DeviceSchedule.h"
#include "UpdateModeInput.h"


class VirtualDeviceModel : private UpdateModeInput::Device {
public:
    // `update` tells the device what each portion must look like on the wire when a port with
    // `settings` cuts and frames it.
    VirtualDeviceModel(const Update& update, const PortSettings& settings, DeviceBehaviour behaviour);

    // Bytes arriving on the device's input at `nowMs`. A piece that is exactly an Identity Request,
    // arriving between portions, is answered instead of being taken as firmware. Channel messages
    // outside SysEx and real-time messages are set aside (see UpdateModeInput.h) unless they are
    // what the update itself puts on the wire at that point.
    void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs);
    // An Identity Request reached the device at `nowMs`; the reply is scheduled (when enabled).
    // Returns when the reply is due, or nothing when the device does not answer.
    std::optional<std::uint64_t> IdentityRequested(std::uint64_t nowMs);

    // Whether the device is present (not rebooting) at `nowMs`.
    bool Online(std::uint64_t nowMs) const { return schedule.Online(nowMs); }
    // The messages the device has sent by `nowMs`, in order; they leave the schedule.
    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) { return schedule.TakeDue(nowMs); }
    // When the next scheduled message is due, if any.
    std::optional<std::uint64_t> NextDueMs() const { return schedule.NextDueMs(); }

    // The last status of a portion has gone out and the device would reboot (offline=MS): the
    // transport decides when the host has seen it and calls StartReboot then.
    bool RebootPending() const { return schedule.RebootPending(); }
    void StartReboot(std::uint64_t nowMs) { schedule.StartReboot(nowMs, behaviour.offlineMs); }

    // Bytes of an endless stream (answer=stream) due by `nowMs` and not yet taken; the first one
    // is an F0, the rest are data bytes, never an F7. StreamByte gives the byte at an index.
    std::uint64_t TakeStreamDue(std::uint64_t nowMs);
    std::uint64_t StreamTaken() const { return streamTaken; }
    static std::uint8_t StreamByte(std::uint64_t index) {
        return index == 0 ? 0xF0 : static_cast<std::uint8_t>(0x10 + index % 0x60);
    }

    // What the device has seen, for tests and reports.
    struct Stats {
        std::uint64_t bytesReceived = 0;  // taken as firmware
        std::uint32_t messagesReceived = 0;  // SysEx messages ended (F7) among them
        std::uint32_t portionsCompleted = 0;
        std::uint32_t portionsCorrupt = 0;
        std::uint32_t chunksReceived = 0;
        std::uint32_t identityRequests = 0;
        std::uint32_t sendsWhileClosed = 0;
        std::uint64_t bytesUnexpected = 0;  // received after the last portion was complete
        std::uint64_t bytesLostInDrop = 0;  // arrived while the device was going away mid-portion
        IgnoredMessages ignored;            // set aside: neither firmware nor unexpected
        std::uint32_t restarts = 0;         // new updates begun after an interrupted one
    };
    const Stats& GetStats() const { return stats; }
    // A host tried to send while the device was away: the bytes never arrived.
    void SendLost() { ++stats.sendsWhileClosed; }
    // Every byte taken as firmware, in order (what was set aside is not among them).
    const std::vector<std::uint8_t>& Wire() const { return wire; }
    std::size_t PortionsExpected() const { return expectedWire.size(); }
    // Bytes the whole update puts on the wire, framing included.
    std::uint64_t WireBytesExpected() const {
        std::uint64_t total = 0;
        for (const std::vector<std::uint8_t>& portion : expectedWire) total += portion.size();
        return total;
    }
    // SysEx messages the whole update puts on the wire: every framed piece is one.
    std::uint32_t WireMessagesExpected() const {
        std::uint32_t total = 0;
        for (const std::vector<std::uint8_t>& portion : expectedWire)
            for (std::uint8_t b : portion) total += b == 0xF7 ? 1u : 0u;
        return total;
    }
    bool AllPortionsReceived() const { return portionIndex >= expectedWire.size(); }
    const std::string& DeviceName() const { return deviceName; }

private:
    void SkipEmptyPortions();
    bool BeginsANewUpdate(const std::uint8_t* data, std::size_t length) const;
    void StartOver();
    void PortionReceived(bool intact, std::uint64_t nowMs);
    void ReceiveByte(std::uint8_t b, std::uint64_t nowMs);
    bool Expects(const std::uint8_t* bytes, std::size_t length) const override;
    void TakeFirmware(std::uint8_t b) override { ReceiveByte(b, receivingAtMs); }
    void ScheduleGarbage(std::uint64_t atMs);
    std::vector<std::uint8_t> IdentityReply() const;
    bool Installed() const;

    DeviceBehaviour behaviour;
    FirmwareVersion replyVersion;
    std::string deviceName;
    std::vector<std::vector<std::uint8_t>> expectedWire;  // per portion
    std::size_t portionIndex = 0;
    std::size_t portionOffset = 0;
    bool portionIntact = true;
    UpdateModeInput input;
    std::uint64_t receivingAtMs = 0;  // the time of the bytes being received
    std::uint64_t bytesArrived = 0;   // firmware and set aside alike, for a device that drops
    bool dropped = false;                   // the one mid-portion drop has happened
    std::optional<std::uint64_t> streamFromMs;  // when an endless stream began
    std::uint64_t streamTaken = 0;
    DeviceSchedule schedule;
    std::vector<std::uint8_t> wire;
    Stats stats;
};
