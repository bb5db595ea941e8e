#pragma once
// The device's status messages after each portion, and the Device Enquiry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class MidiPort;
class UpdateProgress;

enum UpdateStatus : int {
    NoReply = 0,
    Accepted = 1,
    Installing = 2,
    Failed = 3,
};

// The maker's MIDI manufacturer ID that a status message carries at indexes 1 to 3.
extern const std::uint8_t kManufacturerId[3];
// Universal Non-Real-Time Identity Request to all devices.
extern const std::uint8_t IdentityRequest[6];

struct DeviceIdentity {
    std::string manufacturerText;
    std::string familyText;
    std::string versionText;
    std::string deviceName;
};

UpdateStatus CheckSysExUpdateStatus(const std::vector<std::uint8_t>& message);
UpdateStatus GetUpdateStatus(MidiPort& port, std::uint32_t timeoutMs);
UpdateStatus WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress);
// Never reads past the end of the reply; fields it cannot fill stay empty.
DeviceIdentity ParseDeviceEnquiryResponse(const std::vector<std::uint8_t>& reply);
// "%02X " for each byte, the last one included.
std::string FormatHexBytes(const std::uint8_t* bytes, std::size_t count);
