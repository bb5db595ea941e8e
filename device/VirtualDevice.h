#pragma once
// A MidiPort that behaves like an instrument in update mode, with no operating system MIDI.
//
// It is a pure state machine on the current clock: what it sends back is scheduled at a time and
// delivered, through the port's SysEx reassembly, when the caller next reads the port. So it runs
// the same on the real clock (in real time) and on a simulated one (instantly).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MidiPort.h"
#include "PortSettings.h"
#include "Update.h"

struct DeviceBehaviour {
    enum class StatusMode { Accept, Fail, None, Install };
    StatusMode status = StatusMode::Accept;
    std::uint32_t installCount = 0;            // "installing" statuses before accepting
    bool identityEnabled = true;               // answers an Identity Request
    std::optional<FirmwareVersion> identity;   // version in the reply; unset: the file's (or 1.00)
    std::uint32_t offlineMs = 0;               // disappears this long after each portion's status
};

// Parses "status=accept|fail|none|install:N,identity=MAJOR.MINOR|none,offline=MS" (any subset, in
// any order; empty text = defaults). Throws std::invalid_argument with a sentence for the user.
DeviceBehaviour ParseDeviceBehaviour(const std::string& text);

// Status bytes the device sends.
constexpr std::uint8_t kStatusAccepted = 0x00;
constexpr std::uint8_t kStatusFailed = 0x01;
constexpr std::uint8_t kStatusInstalling = 0x20;

// Timing of the device's own answers, in milliseconds.
constexpr std::uint32_t kDeviceProcessingMs = 300;   // last byte of a portion to its status
constexpr std::uint32_t kDeviceInstallStepMs = 500;  // between two "installing" statuses
constexpr std::uint32_t kDeviceIdentityMs = 20;      // Identity Request to its reply

// The 13-byte update status message with the given status byte.
std::vector<std::uint8_t> MakeStatusMessage(std::uint8_t statusByte);
// An Identity Reply whose version bytes read back as VersionText(version) (minor below 100,
// major up to 2815).
std::vector<std::uint8_t> MakeIdentityReply(const FirmwareVersion& version, const std::string& name);

class VirtualDevice : public MidiPort {
public:
    // `update` tells the device what each portion must look like on the wire; `settings` are the
    // port's pacing values, honoured like a real port would.
    VirtualDevice(const Update& update, const PortSettings& settings, DeviceBehaviour behaviour);
    ~VirtualDevice() override;

    std::int32_t GetIdealChunkSize() override;
    std::int32_t GetMaxChunkSize() override;
    bool IsConnected() override;
    void Disconnect() override;
    void Send(const std::uint8_t* data, std::uint32_t length) override;
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override;
    std::vector<std::uint8_t> GetSysEx() override;
    void ClearSysEx() override;

    // What the device has seen, for tests and reports.
    struct Stats {
        std::uint64_t bytesReceived = 0;
        std::uint32_t portionsCompleted = 0;
        std::uint32_t portionsCorrupt = 0;
        std::uint32_t chunksReceived = 0;
        std::uint32_t identityRequests = 0;
        std::uint32_t sendsWhileClosed = 0;
        std::uint64_t bytesUnexpected = 0;  // received after the last portion was complete
    };
    const Stats& GetStats() const { return stats; }
    // Every byte received on the wire, in order.
    const std::vector<std::uint8_t>& Wire() const { return wire; }

private:
    struct Pending {
        std::uint64_t atMs;
        std::vector<std::uint8_t> message;
        bool rebootsAfter = false;  // the portion's last status: the device reboots once it is read
    };
    bool Online(std::uint64_t nowMs) const;
    void Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message, bool rebootsAfter = false);
    void GoOffline(std::uint64_t fromMs);
    void DeliverDue();
    void SkipEmptyPortions();
    void PortionReceived(bool intact, std::uint64_t nowMs);
    void ReceiveByte(std::uint8_t b, std::uint64_t nowMs);

    PortSettings settings;
    DeviceBehaviour behaviour;
    FirmwareVersion replyVersion;
    std::string deviceName;
    std::vector<std::vector<std::uint8_t>> expectedWire;  // per portion
    std::size_t portionIndex = 0;
    std::size_t portionOffset = 0;
    bool portionIntact = true;
    bool open = false;
    std::uint64_t offlineFromMs = 0;  // the device is away in [offlineFromMs, offlineUntilMs)
    std::uint64_t offlineUntilMs = 0;
    bool rebootWhenRead = false;  // the last status was delivered; reading it starts the reboot
    std::vector<Pending> pending;  // ordered by time
    std::vector<std::uint8_t> wire;
    Stats stats;
};
