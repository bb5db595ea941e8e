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
#include "UpdateModeInput.h"

struct DeviceBehaviour {
    enum class StatusMode { Accept, Fail, None, Install };
    StatusMode status = StatusMode::Accept;
    std::uint32_t installCount = 0;            // "installing" statuses before accepting
    bool identityEnabled = true;               // answers an Identity Request
    std::optional<FirmwareVersion> identity;   // version in the reply; unset: the file's (or 1.00)
    std::uint32_t offlineMs = 0;               // disappears this long after each portion's status

    // Ways a device in bootloader mode answers oddly.
    enum class Answer {
        Normal,
        Garbage,  // instead of a status: stray bytes, short messages and SysEx that is no status
        Echo,     // a loopback cable: every byte comes straight back, nothing else
        Stream,   // after the first portion, data bytes without end and never an F7
        Late,     // every status only after the host has stopped polling for it
    };
    Answer answer = Answer::Normal;
    enum class IdentityShape {
        Whole,
        Short,      // ends after the manufacturer ID and family: no version
        Cut,        // stops part-way and never sends its F7
        Malformed,  // the device ID byte is 0x7F instead of 0x00
    };
    IdentityShape identityShape = IdentityShape::Whole;
    std::uint64_t dropAfterBytes = 0;  // goes away once after this many bytes (0: never)
};

// Parses "status=accept|fail|none|install:N,identity=MAJOR.MINOR|none|short|cut|malformed,
// offline=MS,answer=normal|garbage|echo|stream|late,drop=BYTES" (any subset, in any order; empty
// text = defaults). Throws std::invalid_argument with a sentence for the user.
DeviceBehaviour ParseDeviceBehaviour(const std::string& text);

// Status bytes the device sends.
constexpr std::uint8_t kStatusAccepted = 0x00;
constexpr std::uint8_t kStatusFailed = 0x01;
constexpr std::uint8_t kStatusInstalling = 0x20;

// Timing of the device's own answers, in milliseconds.
constexpr std::uint32_t kDeviceProcessingMs = 300;   // last byte of a portion to its status
constexpr std::uint32_t kDeviceInstallStepMs = 500;  // between two "installing" statuses
constexpr std::uint32_t kDeviceIdentityMs = 20;      // Identity Request to its reply
constexpr std::uint32_t kDeviceLateMs = 20000;      // a late status comes this long after the usual time
constexpr std::uint32_t kDeviceDropMs = 5000;       // a device that drops mid-portion is away this long
constexpr std::uint32_t kDeviceStreamBytesPerMs = 256;  // an endless stream, at full USB MIDI speed

// The 13-byte update status message with the given status byte.
std::vector<std::uint8_t> MakeStatusMessage(std::uint8_t statusByte);
// An Identity Reply whose version bytes read back as VersionText(version) (minor below 100,
// major up to 2815).
std::vector<std::uint8_t> MakeIdentityReply(const FirmwareVersion& version, const std::string& name);

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
    bool Online(std::uint64_t nowMs) const;
    // The messages the device has sent by `nowMs`, in order; they leave the schedule.
    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs);
    // When the next scheduled message is due, if any.
    std::optional<std::uint64_t> NextDueMs() const;

    // The last status of a portion has gone out and the device would reboot (offline=MS): the
    // transport decides when the host has seen it and calls StartReboot then.
    bool RebootPending() const { return rebootPending; }
    void StartReboot(std::uint64_t nowMs);

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
    bool AllPortionsReceived() const { return portionIndex >= expectedWire.size(); }
    const std::string& DeviceName() const { return deviceName; }

private:
    struct Pending {
        std::uint64_t atMs;
        std::vector<std::uint8_t> message;
        bool rebootsAfter = false;  // the portion's last status: the device reboots once it is seen
    };
    void Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message, bool rebootsAfter = false);
    void GoOffline(std::uint64_t fromMs);
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
    std::uint64_t offlineFromMs = 0;  // the device is away in [offlineFromMs, offlineUntilMs)
    std::uint64_t offlineUntilMs = 0;
    bool rebootPending = false;
    bool dropped = false;                   // the one mid-portion drop has happened
    std::optional<std::uint64_t> streamFromMs;  // when an endless stream began
    std::uint64_t streamTaken = 0;
    std::vector<Pending> pending;  // ordered by time
    std::vector<std::uint8_t> wire;
    Stats stats;
};
