#pragma once
// How a simulated instrument in update mode behaves (the --virtual options), the messages it
// answers with, and the timing of its answers: what every device model in this folder shares.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Update.h"

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

// Whether an Identity Reply can tell `version` (see MakeIdentityReply).
bool VersionFitsReply(const FirmwareVersion& version);
// "accept", "fail", "none" or "install", for the log.
const char* StatusModeText(DeviceBehaviour::StatusMode mode);
