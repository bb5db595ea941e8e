#include "UpdateStatus.h"

#include "Clock.h"
#include "Log.h"
#include "MidiPort.h"
#include "UpdateProgress.h"

const std::uint8_t kManufacturerId[3] = {0x00, 0x7F, 0x55};
const std::uint8_t IdentityRequest[6] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

namespace {

constexpr std::size_t kStatusMessageLength = 13;
constexpr std::uint8_t kStatusMessageType = 0x73;
constexpr std::size_t kStatusByteIndex = 11;
constexpr std::uint8_t kErrorBits = 0x0F;
constexpr std::uint8_t kInstallingBit = 0x20;

constexpr std::uint32_t kStatusPollMs = 500;
constexpr std::uint32_t kStatusTimeoutMs = 2000;
constexpr int kSilentAttempts = 6;
constexpr int kInstallingPolls = 200;

// Universal Non-Real-Time, device ID 0x00, General Information, Identity Reply.
constexpr std::uint8_t kIdentityReplyHeader[5] = {0xF0, 0x7E, 0x00, 0x06, 0x02};
constexpr std::size_t kManufacturerIndex = 5;
// Offsets from p, the index just after the manufacturer ID.
constexpr std::size_t kVersionOffset = 3;
constexpr std::size_t kNameOffset = 12;
constexpr std::size_t kNameLength = 16;

bool IsStatusMessage(const std::vector<std::uint8_t>& message) {
    if (message.size() != kStatusMessageLength || message[0] != 0xF0) return false;
    for (std::size_t i = 0; i < sizeof(kManufacturerId); ++i) {
        if (message[1 + i] != kManufacturerId[i]) return false;
    }
    return message[4] == kStatusMessageType;
}

// Takes the stored message and empties the store, so that the next poll sees only newer ones.
std::vector<std::uint8_t> TakeReceived(MidiPort& port) {
    std::vector<std::uint8_t> copy = port.GetSysEx();
    port.ClearSysEx();
    return copy;
}

bool HasIdentityReplyHeader(const std::vector<std::uint8_t>& reply) {
    for (std::size_t i = 0; i < sizeof(kIdentityReplyHeader); ++i) {
        if (reply[i] != kIdentityReplyHeader[i]) return false;
    }
    return true;
}

// Name bytes up to the first zero or non-7-bit byte, or the end of the reply.
std::string ReadDeviceName(const std::vector<std::uint8_t>& reply, std::size_t from) {
    std::string name;
    for (std::size_t i = from; i < reply.size() && i < from + kNameLength; ++i) {
        const std::uint8_t b = reply[i];
        if (b == 0 || b >= 0x7F) break;
        name += static_cast<char>(b);
    }
    return name;
}

}  // namespace

UpdateStatus CheckSysExUpdateStatus(const std::vector<std::uint8_t>& message) {
    if (!IsStatusMessage(message)) return NoReply;
    const std::uint8_t status = message[kStatusByteIndex];
    LogMessage("%s: error=(0x%02x)\n", "CheckSysExUpdateStatus", static_cast<unsigned>(status));
    if (status & kErrorBits) return Failed;
    if (status & kInstallingBit) return Installing;
    return Accepted;
}

UpdateStatus GetUpdateStatus(MidiPort& port, std::uint32_t timeoutMs) {
    const std::uint32_t start = static_cast<std::uint32_t>(GetTimeMs());
    std::vector<std::uint8_t> copy = TakeReceived(port);
    while (copy.empty()) {
        // Elapsed time in unsigned arithmetic, so a wrap of the 32-bit millisecond count
        // neither ends the wait early nor stretches it.
        const std::uint32_t now = static_cast<std::uint32_t>(GetTimeMs());
        if (now - start >= timeoutMs) break;
        SleepMs(kStatusPollMs);
        copy = TakeReceived(port);
        // Closing a port that dropped lets the next IsConnected open it again.
        if (!port.IsConnected()) port.Disconnect();
        LogMessage("%s: sysEx=(%s)\n", "GetUpdateStatus", copy.empty() ? "none" : "something");
    }
    return CheckSysExUpdateStatus(copy);
}

UpdateStatus WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress) {
    LogMessage("%s >>\n", "WaitForUpdateToFinish");
    if (!port.IsConnected()) {
        LogMessage("%s: not connected\n", "WaitForUpdateToFinish");
        return NoReply;
    }
    progress.Status("Checking update status...");
    progress.ProgressIndeterminate();

    UpdateStatus status = NoReply;
    bool installingShown = false;
    for (int attempts = 0; status == NoReply && attempts < kSilentAttempts; ++attempts) {
        status = GetUpdateStatus(port, kStatusTimeoutMs);
        for (int busy = 0; status == Installing && busy < kInstallingPolls; ++busy) {
            if (!installingShown) {
                progress.Status("Waiting for device to complete update installation...");
                progress.ProgressIndeterminate();
                installingShown = true;
            }
            status = GetUpdateStatus(port, kStatusTimeoutMs);
        }
    }

    progress.Status(status == Accepted ? "Device has accepted update."
                                       : "Device has not yet responded to update.");
    progress.Progress(1.0f);
    LogMessage("%s << (%d)\n", "WaitForUpdateToFinish", static_cast<int>(status));
    return status;
}

// A reply that passes the header test but ends early fills only the fields whose bytes are all
// present (the manufacturer ID, the family byte, the four version bytes); once the manufacturer ID
// is incomplete nothing after it can be located. The name is a terminated text anyway, so it takes
// the name bytes that are present; a short but well-formed reply ends in F7, which ends it there.
DeviceIdentity ParseDeviceEnquiryResponse(const std::vector<std::uint8_t>& reply) {
    DeviceIdentity identity;
    if (reply.size() < sizeof(kIdentityReplyHeader)) {
        LogMessage("%s: MIDI sysex header short\n", "ParseDeviceEnquiryResponse");
        return identity;
    }
    if (!HasIdentityReplyHeader(reply)) {
        LogMessage("%s: MIDI sysex header wrong\n", "ParseDeviceEnquiryResponse");
        return identity;
    }

    if (reply.size() <= kManufacturerIndex) return identity;
    const std::size_t idLength = reply[kManufacturerIndex] == 0x00 ? 3 : 1;
    const std::size_t p = kManufacturerIndex + idLength;
    if (reply.size() < p) return identity;
    identity.manufacturerText = FormatHexBytes(&reply[kManufacturerIndex], idLength);

    if (reply.size() > p) identity.familyText = FormatHexBytes(&reply[p], 1);

    const std::size_t v = p + kVersionOffset;
    if (reply.size() > v + 3) {
        // The major number is A * 22 + B: 22, not 16, is how the devices encode it.
        identity.versionText = FormatString("%d.%d%d", reply[v] * 22 + reply[v + 1],
                                            static_cast<int>(reply[v + 2]),
                                            static_cast<int>(reply[v + 3]));
    }

    identity.deviceName = ReadDeviceName(reply, p + kNameOffset);
    return identity;
}

std::string FormatHexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += FormatString("%02X ", static_cast<unsigned>(bytes[i]));
    return text;
}
