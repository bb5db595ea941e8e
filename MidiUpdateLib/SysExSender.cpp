#include "SysExSender.h"

#include <algorithm>
#include <cstdio>

#include "ChunkFraming.h"
#include "Clock.h"
#include "Log.h"
#include "MidiPort.h"
#include "UpdateProgress.h"
#include "UpdateStatus.h"

namespace {

// Pace of the transfer: after each chunk the sender rests 1/4096 second per byte of it.
constexpr float kSecondsPerByte = 1.0f / 4096.0f;
constexpr std::uint32_t kDeviceActivationMs = 10000;
constexpr std::uint32_t kEnquiryLimitMs = 5000;

const char* const kPreparationMessage =
    "Preparing your update...\n\n1. Please connect your device via USB.\n2. Do not disconnect "
    "your device until the update is complete.";

std::string SentText(std::uint32_t sent, std::uint32_t total) {
    return "Sent " + FormatByteSize(sent) + " of " + FormatByteSize(total);
}

// Rest after a chunk, kept in single precision throughout so the milliseconds come out exactly
// as the pacing intends (1501 bytes rest 366 ms).
void RestAfterChunk(std::uint32_t length) {
    const float seconds = static_cast<float>(length) * kSecondsPerByte;
    LogMessage("Wait for %g seconds", static_cast<double>(seconds));
    const float milliseconds = seconds * 1000.0f;
    SleepMs(static_cast<std::uint32_t>(milliseconds));
}

struct Verdict {
    UpdateVerdict kind;
    std::string text;
};

// The last portion's status was not conclusive: ask the device which firmware it now runs.
Verdict VerdictFromEnquiry(MidiPort& port, const Update& update, const std::string& fileVersion,
                           UpdateProgress& progress) {
    progress.Status("Verifying update status...");
    const std::vector<std::uint8_t> reply =
        port.Query(kEnquiryLimitMs, IdentityRequest, sizeof(IdentityRequest));
    if (reply.empty()) {
        return {UpdateVerdict::SentCheckDevice,
                "The update has been sent.\nPlease check your device for update status.\nYou may "
                "need to restart the device for the update process to complete."};
    }
    const std::string deviceVersion = ParseDeviceEnquiryResponse(reply).versionText;
    if (deviceVersion.empty()) {
        return {UpdateVerdict::SentNotConfirmed,
                "The update has been sent, but the device has not yet confirmed that the update "
                "process was successful."};
    }
    const char* product = update.productName.c_str();
    if (update.version.major == 0 && update.version.minor == 0) {
        return {UpdateVerdict::SentReportsVersion,
                FormatString("The update has been sent to the device sucessfully.\nIt is now at "
                             "version firmware %s.",
                             deviceVersion.c_str())};
    }
    if (deviceVersion != fileVersion) {
        return {UpdateVerdict::VersionDiffers,
                FormatString("The '%s' firmware version is now %s.\nThe update file version was "
                             "%s.\nThe update process did not complete successfully.",
                             product, deviceVersion.c_str(), fileVersion.c_str())};
    }
    return {UpdateVerdict::Updated,
            FormatString("The '%s' was updated sucessfully to version %s.", product,
                         fileVersion.c_str())};
}

const char* const kErrorVerdict =
    "There was an error sending the update file.\nPlease restart the device and try again.";

Verdict ChooseVerdict(UpdateStatus lastStatus, bool sendFailed, MidiPort& port,
                      const Update& update, UpdateProgress& progress) {
    const std::string fileVersion = VersionText(update.version);
    // Data that never left cannot have been installed: unless the device itself confirms the
    // update, saying it was sent would report a failure as success.
    if (sendFailed && lastStatus != Accepted) {
        LogMessage("%s: a chunk could not be sent\n", "SysExSender::Send");
        return {UpdateVerdict::DeviceError, kErrorVerdict};
    }
    switch (lastStatus) {
        case Accepted:
            return {UpdateVerdict::Updated,
                    FormatString("The '%s' was updated sucessfully to version %s.",
                                 update.productName.c_str(), fileVersion.c_str())};
        case Failed:
            return {UpdateVerdict::DeviceError, kErrorVerdict};
        case NoReply:
        case Installing:
        default:
            return VerdictFromEnquiry(port, update, fileVersion, progress);
    }
}

}  // namespace

SysExSender::SysExSender(MidiPort& port) : port(port) {
    LogMessage("%s", "SysExSender::SysExSender");
}

SysExSender::~SysExSender() = default;

bool SimpleSysExSender::Send(const SysExPortion& portion, UpdateProgress& progress) {
    LogMessage("SimpleSysExSender::Send\n");
    return SendChunked(portion, port, progress);
}

namespace {

// Milliseconds from a portion's start until a time in microseconds has fully passed.
std::uint64_t DueMs(std::uint64_t timeUs) { return timeUs / 1000 + (timeUs % 1000 != 0 ? 1 : 0); }

// A wait of the file's this long or longer is said in the status, so that a quiet stretch does
// not look like a hang.
constexpr std::uint64_t kSaidWaitMs = 2000;

// Waits on the run's clock until `deadline`, in sleeps the clock can take, saying a long wait's
// length and what it is for.
void SleepUntil(std::uint64_t deadline, UpdateProgress& progress, const char* what) {
    const std::uint64_t start = GetTimeMs();
    if (deadline >= start + kSaidWaitMs)
        progress.Status("Waiting " + FormatDuration(deadline - start) + " for " + what + ", as the file times it");
    for (std::uint64_t now = start; now < deadline; now = GetTimeMs())
        SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, 0xFFFFFFFFu)));
}

// A timed portion: every message whole, each no earlier than its time after the start, and never
// sooner than the rest after the message before (the same pace per byte as any chunk), so a file
// timed tighter than that goes out as fast as the pace allows. The port keeps its own pauses and
// its system's limits inside Send.
bool SendTimed(const SysExPortion& portion, MidiPort& port, UpdateProgress& progress) {
    const std::uint32_t total = static_cast<std::uint32_t>(portion.data.size());
    const std::uint64_t start = GetTimeMs();
    std::uint64_t readyAt = start;
    std::uint32_t sent = 0;
    progress.ProgressIndeterminate();
    for (std::size_t i = 0; i < portion.timing.size(); ++i) {
        const std::uint32_t offset = portion.timing[i].offset;
        const std::uint32_t next = i + 1 < portion.timing.size() ? portion.timing[i + 1].offset : total;
        SleepUntil(std::max(readyAt, start + DueMs(portion.timing[i].timeUs)), progress, "the next message");
        if (i > 0) progress.Progress(static_cast<float>(offset) / static_cast<float>(total));
        const std::uint32_t length = next - offset;
        port.Send(portion.data.data() + offset, length);
        sent += length;
        progress.Status(SentText(sent, total));
        const float restMs = static_cast<float>(length) * kSecondsPerByte * 1000.0f;
        readyAt = GetTimeMs() + static_cast<std::uint64_t>(restMs);
    }
    // The file's last events (often a pause for the device to finish writing) end its time.
    SleepUntil(std::max(readyAt, start + DueMs(portion.endUs)), progress, "the end of the file");
    progress.Progress(1.0f);
    progress.Status(SentText(sent, total));
    return true;
}

}  // namespace

bool SysExSender::SendChunked(const SysExPortion& portion, MidiPort& port,
                              UpdateProgress& progress) {
    LogMessage("%s(portion,port,progress)\n", "SysExSender::SendChunked");
    if (!portion.timing.empty()) return SendTimed(portion, port, progress);
    const ChunkRules rules =
        MakeChunkRules(port.GetIdealChunkSize(), port.GetMaxChunkSize(), port.SendsWholeMessages(), false);

    const std::uint8_t* const start = portion.data.data();
    const std::uint8_t* const end = start + portion.data.size();
    const std::uint32_t total = static_cast<std::uint32_t>(portion.data.size());
    const std::uint8_t* cursor = start;
    std::uint32_t sent = 0;

    while (cursor != end) {
        const std::uint8_t* const chunkEnd = NextChunkEnd(cursor, end, rules);
        if (cursor == start) {
            progress.ProgressIndeterminate();
        } else {
            // Only later chunks get here, so `total` is never zero in this division.
            progress.Progress(static_cast<float>(cursor - start) / static_cast<float>(total));
        }
        const std::uint32_t length = static_cast<std::uint32_t>(chunkEnd - cursor);
        // Whether the device took the chunk shows only in its status message afterwards.
        port.Send(cursor, length);
        sent += length;
        progress.Status(SentText(sent, total));
        cursor = chunkEnd;
        RestAfterChunk(length);
    }

    progress.Progress(1.0f);
    progress.Status(SentText(sent, total));
    return true;
}

std::string FormatByteSize(std::uint32_t n) {
    // The count goes through single precision first, as the size shown has always been computed.
    if (n >= 1048576u) return FormatString("%.1fMB", static_cast<float>(n) / 1048576.0);
    if (n >= 1024u) return FormatString("%.1fKB", static_cast<float>(n) / 1024.0);
    if (n == 1u) return "1 byte";
    return FormatString("%d bytes", static_cast<int>(n));
}

std::string FormatDuration(std::uint64_t ms) {
    std::uint64_t s = (ms + 500) / 1000;
    char buffer[32];
    if (s >= 3600)
        std::snprintf(buffer, sizeof buffer, "%lluh %02llum", static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned long long>(s / 60 % 60));
    else if (s >= 60)
        std::snprintf(buffer, sizeof buffer, "%llum %02llus", static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    else
        std::snprintf(buffer, sizeof buffer, "%llus", static_cast<unsigned long long>(s));
    return buffer;
}

bool WaitForConnection(MidiPort& port) {
    for (std::uint32_t attempt = 0; attempt < kConnectionAttempts; ++attempt) {
        if (port.IsConnected()) break;
        LogMessage("MIDI port is not connected. Waiting, then retrying\n");
        SleepMs(kConnectionRetryMs);
    }
    return port.IsConnected();
}

void DoDelay(const SysExPortion& portion, UpdateProgress& progress) {
    LogMessage("%s\n", "DoDelay");
    if (portion.delay == 0) return;
    progress.Status("Waiting for device to become ready for more data...");
    progress.ProgressIndeterminate();
    SleepMs(portion.delay);
    progress.Status("Waiting for device to become active...");
    SleepMs(kDeviceActivationMs);
    progress.Progress(1.0f);
}

UpdateVerdict SysExSender::Send(const Update& update, UpdateProgress& progress) {
    LogMessage("%s(update,sender,progress)\n", "SysExSender::Send");
    progress.Progress(0.0f);
    progress.ProgressIndeterminate();
    progress.Status("Started update");

    const std::uint32_t count = static_cast<std::uint32_t>(update.portions.size());
    const std::uint32_t total = TotalSysExSize(update);
    std::uint32_t sent = 0;
    UpdateStatus lastStatus = NoReply;
    const std::uint32_t failuresBefore = port.SendFailures();

    for (std::uint32_t index = 0; index < count; ++index) {
        const SysExPortion& portion = update.portions[index];
        const std::uint32_t size = static_cast<std::uint32_t>(portion.data.size());
        UpdateProgressConverter converter(progress, static_cast<float>(sent),
                                          static_cast<float>(sent + size),
                                          static_cast<float>(total));
        // The texts shown to the user call a portion a chunk.
        if (index == 0) {
            progress.Status("Looking for " + update.productName + " to update...");
        } else {
            progress.Status(FormatString("Sending chunk #%u of %u", index + 1, count));
        }

        // A device that goes away between portions is waited for without limit.
        for (;;) {
            progress.ProgressIndeterminate();
            if (WaitForConnection(port)) break;
            if (index > 0) {
                progress.Status(
                    FormatString("Could not send chunk #%u of %u. Retrying...", index + 1, count));
            }
            SleepMs(kConnectionRetryMs);
        }

        Send(portion, converter);
        lastStatus = WaitForUpdateToFinish(port, converter);
        LogMessage("%s: Disconnecting\n", "SysExSender::Send");
        if (index == 0 && count > 1) progress.BlockingMessage(kPreparationMessage);
        DoDelay(portion, converter);
        port.Disconnect();
        sent += size;
    }

    progress.Progress(1.0f);
    progress.Status("MIDI update sent successfully.");
    // Only the last portion's status decides; earlier ones never stop the run.
    const bool sendFailed = port.SendFailures() != failuresBefore;
    const Verdict verdict = ChooseVerdict(lastStatus, sendFailed, port, update, progress);
    progress.Completed(verdict.text);
    return verdict.kind;
}
