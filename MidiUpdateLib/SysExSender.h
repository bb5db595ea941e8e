#pragma once
// Chunked, paced sending of SysEx portions, and the whole update run.

#include <cstdint>
#include <string>

#include "Update.h"

class MidiPort;
class UpdateProgress;

// Which of the six verdict sentences an update run ended with.
enum class UpdateVerdict {
    Updated,              // device accepted, or reports the file's version
    SentCheckDevice,      // no status and no Identity Reply
    SentNotConfirmed,     // an Identity Reply without a version
    SentReportsVersion,   // a file without a version; the device reported its own
    VersionDiffers,       // the device reports another version than the file's
    DeviceError,          // the device reported an error, or data never left and it did not confirm
};

class SysExSender {
public:
    explicit SysExSender(MidiPort& port);
    virtual ~SysExSender();
    SysExSender(const SysExSender&) = delete;
    SysExSender& operator=(const SysExSender&) = delete;

    // Sends one portion; true in every case.
    virtual bool Send(const SysExPortion& portion, UpdateProgress& progress) = 0;

    // The whole update run, from "Started update" to exactly one Completed with the verdict.
    // Returns which verdict that was; throws whatever the port or the clock throws.
    UpdateVerdict Send(const Update& update, UpdateProgress& progress);

    static bool SendChunked(const SysExPortion& portion, MidiPort& port, UpdateProgress& progress);

protected:
    MidiPort& port;
};

class SimpleSysExSender : public SysExSender {
public:
    using SysExSender::SysExSender;
    using SysExSender::Send;
    bool Send(const SysExPortion& portion, UpdateProgress& progress) override;
};

// How the run waits for the device's port: a round of this many checks a second apart, then the
// next round, without end.
constexpr std::uint32_t kConnectionAttempts = 10;
constexpr std::uint32_t kConnectionRetryMs = 1000;

std::string FormatByteSize(std::uint32_t n);
// "1h 02m", "3m 05s", "42s": a length of time, to the nearest second.
std::string FormatDuration(std::uint64_t ms);
// Up to ten one-second waits for the port to report itself connected.
bool WaitForConnection(MidiPort& port);
// The pause after a portion: nothing for a delay of 0, else the delay plus ten seconds.
void DoDelay(const SysExPortion& portion, UpdateProgress& progress);
