#include "VirtualDeviceModel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "Clock.h"
#include "Log.h"
#include "ChunkFraming.h"
#include "SysExSender.h"
#include "UpdateStatus.h"

VirtualDeviceModel::VirtualDeviceModel(const Update& update, const PortSettings& settings,
                                       DeviceBehaviour deviceBehaviour)
    : behaviour(std::move(deviceBehaviour)) {
    // The reply tells the file's version unless told otherwise, so that a run without statuses
    // still ends in a confirmed update; a file without a version gets a plausible 1.00.
    if (behaviour.identity) {
        replyVersion = *behaviour.identity;
    } else if (update.version.major == 0 && update.version.minor == 0) {
        replyVersion = FirmwareVersion{1, 0};
    } else {
        replyVersion = update.version;
    }
    if (behaviour.identityEnabled && !VersionFitsReply(replyVersion)) {
        LogMessage("VirtualDevice: version %s cannot be told in an Identity Reply; the device "
                   "will not answer one\n",
                   VersionText(replyVersion).c_str());
        behaviour.identityEnabled = false;
    }
    deviceName = update.productName.empty() ? std::string("Virtual Device") : update.productName;

    // What each portion must look like on the wire: cut exactly as the sender cuts it with these
    // port settings, then framed as a port frames every chunk.
    const ChunkRules rules = ChunkRulesFor(settings);
    expectedWire.reserve(update.portions.size());
    for (const SysExPortion& portion : update.portions) expectedWire.push_back(WireBytes(portion.data, rules));
    SkipEmptyPortions();
    LogMessage("VirtualDevice: %u portions expected, status=%s, identity=%s, offline=%u ms\n",
               static_cast<unsigned>(expectedWire.size()), StatusModeText(behaviour.status),
               behaviour.identityEnabled ? VersionText(replyVersion).c_str() : "none",
               static_cast<unsigned>(behaviour.offlineMs));
}

void VirtualDeviceModel::Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) {
    if (length == 0) return;
    if (behaviour.answer == DeviceBehaviour::Answer::Echo) {
        // A cable looped back: whatever goes out comes straight back in, and nothing else does.
        wire.insert(wire.end(), data, data + length);
        stats.bytesReceived += length;
        schedule.Schedule(nowMs, std::vector<std::uint8_t>(data, data + length));
        return;
    }
    const bool betweenPortions = portionOffset == 0;
    if (betweenPortions && length == sizeof(IdentityRequest) &&
        std::memcmp(data, IdentityRequest, sizeof(IdentityRequest)) == 0) {
        IdentityRequested(nowMs);
        return;
    }
    if (BeginsANewUpdate(data, length)) StartOver();
    receivingAtMs = nowMs;
    const std::uint64_t unexpectedBefore = stats.bytesUnexpected;
    IgnoredMessages ignored;
    for (std::size_t i = 0; i < length; ++i) {
        if (behaviour.dropAfterBytes != 0 && !dropped && bytesArrived >= behaviour.dropAfterBytes) {
            // Unplugged part-way: the rest of this chunk never arrives, and when the device is
            // back it has forgotten the portion it was taking.
            dropped = true;
            stats.bytesLostInDrop += length - i;
            schedule.GoAway(nowMs, nowMs + kDeviceDropMs);
            portionOffset = 0;
            portionIntact = true;
            input.Restart();
            LogMessage("VirtualDevice: gone after %llu bytes, back at %llu ms\n",
                       static_cast<unsigned long long>(bytesArrived),
                       static_cast<unsigned long long>(schedule.AwayUntilMs()));
            break;
        }
        ++bytesArrived;
        input.Add(data[i], *this, ignored);
    }
    // A piece that was nothing but messages set aside is no chunk of the firmware.
    if (ignored.bytes < length) ++stats.chunksReceived;
    if (ignored.Messages() != 0) {
        stats.ignored.Add(ignored);
        const std::string text = IgnoredMessagesText(ignored);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            LogMessage("VirtualDevice: %s\n", text.substr(start, end - start).c_str());
    }
    if (stats.bytesUnexpected != unexpectedBefore)
        LogMessage("VirtualDevice: %u bytes after the last portion\n",
                   static_cast<unsigned>(stats.bytesUnexpected - unexpectedBefore));
}

std::optional<std::uint64_t> VirtualDeviceModel::IdentityRequested(std::uint64_t nowMs) {
    ++stats.identityRequests;
    if (behaviour.answer == DeviceBehaviour::Answer::Echo) {
        // The loopback hands the request itself back, as the only "reply".
        schedule.Schedule(nowMs, std::vector<std::uint8_t>(IdentityRequest, IdentityRequest + sizeof(IdentityRequest)));
        return nowMs;
    }
    if (streamFromMs) {
        LogMessage("VirtualDevice: Identity Request, no answer while streaming\n");
        return std::nullopt;
    }
    if (!behaviour.identityEnabled) {
        LogMessage("VirtualDevice: Identity Request, no answer\n");
        return std::nullopt;
    }
    // The device answers on its own, whether or not the host's port is open; a device that is
    // away answers once it is back.
    const std::uint64_t replyAtMs = (Online(nowMs) ? nowMs : schedule.AwayUntilMs()) + kDeviceIdentityMs;
    schedule.Schedule(replyAtMs, IdentityReply());
    LogMessage("VirtualDevice: Identity Request, reply in %u ms\n",
               static_cast<unsigned>(replyAtMs - nowMs));
    return replyAtMs;
}

std::vector<std::uint8_t> VirtualDeviceModel::IdentityReply() const {
    std::vector<std::uint8_t> reply = MakeIdentityReply(replyVersion, deviceName);
    switch (behaviour.identityShape) {
        case DeviceBehaviour::IdentityShape::Whole: break;
        case DeviceBehaviour::IdentityShape::Short:
            // Header, three-byte manufacturer ID and family, then the end: no version bytes.
            reply.resize(10);
            reply.push_back(0xF7);
            break;
        case DeviceBehaviour::IdentityShape::Cut: reply.resize(reply.size() / 2); break;
        case DeviceBehaviour::IdentityShape::Malformed: reply[2] = 0x7F; break;
    }
    return reply;
}

std::uint64_t VirtualDeviceModel::TakeStreamDue(std::uint64_t nowMs) {
    if (!streamFromMs || nowMs < *streamFromMs) return 0;
    const std::uint64_t due = (nowMs - *streamFromMs) * kDeviceStreamBytesPerMs;
    const std::uint64_t count = due - streamTaken;
    streamTaken = due;
    return count;
}

void VirtualDeviceModel::ScheduleGarbage(std::uint64_t atMs) {
    // Stray bytes outside any message, a note on and active sensing, SysEx of another maker, and
    // a message of the status's length whose prefix is not a status's.
    schedule.Schedule(atMs, {0x01, 0x02, 0x90, 0x3C, 0x7F, 0xFE});
    schedule.Schedule(atMs, {0xF0, 0x7D, 0x01, 0x02, 0xF7});
    std::vector<std::uint8_t> lookalike = MakeStatusMessage(kStatusAccepted);
    lookalike[4] = 0x74;
    schedule.Schedule(atMs, lookalike);
    schedule.Schedule(atMs, {0x42, 0x43});
}


// A host stopped part-way (Ctrl-C, a cable pulled) that runs the update again begins with the
// first portion, and an interrupted device is back in update mode: what arrives is the start of
// the first portion where the interrupted run's next bytes were expected.
bool VirtualDeviceModel::BeginsANewUpdate(const std::uint8_t* data, std::size_t length) const {
    std::size_t first = 0;
    while (first < expectedWire.size() && expectedWire[first].empty()) ++first;
    const bool partWay = portionIndex < expectedWire.size() && (portionIndex > first || portionOffset > 0);
    if (!partWay || Expects(data, length)) return false;
    const std::vector<std::uint8_t>& start = expectedWire[first];
    return start.size() >= length && std::equal(data, data + length, start.begin());
}

// The interrupted run is forgotten: what the device reports is the new run.
void VirtualDeviceModel::StartOver() {
    LogMessage("VirtualDevice: a new update begins after an interrupted one; starting over\n");
    const Stats before = stats;
    stats = Stats{};
    stats.restarts = before.restarts + 1;
    stats.identityRequests = before.identityRequests;
    stats.sendsWhileClosed = before.sendsWhileClosed;
    wire.clear();
    schedule.Clear();
    portionIndex = 0;
    portionOffset = 0;
    portionIntact = true;
    input.Restart();
    SkipEmptyPortions();
}

void VirtualDeviceModel::SkipEmptyPortions() {
    // A portion without data puts nothing on the wire, so the device never sees it.
    while (portionIndex < expectedWire.size() && expectedWire[portionIndex].empty()) ++portionIndex;
}

bool VirtualDeviceModel::Expects(const std::uint8_t* bytes, std::size_t length) const {
    if (portionIndex >= expectedWire.size()) return false;
    const std::vector<std::uint8_t>& expected = expectedWire[portionIndex];
    return expected.size() - portionOffset >= length &&
           std::equal(bytes, bytes + length, expected.begin() + static_cast<std::ptrdiff_t>(portionOffset));
}

void VirtualDeviceModel::ReceiveByte(std::uint8_t b, std::uint64_t nowMs) {
    wire.push_back(b);
    ++stats.bytesReceived;
    if (b == 0xF7) ++stats.messagesReceived;
    if (portionIndex >= expectedWire.size()) {
        ++stats.bytesUnexpected;
        return;
    }
    const std::vector<std::uint8_t>& expected = expectedWire[portionIndex];
    if (expected[portionOffset] != b) portionIntact = false;
    if (++portionOffset == expected.size()) PortionReceived(portionIntact, nowMs);
}

void VirtualDeviceModel::PortionReceived(bool intact, std::uint64_t nowMs) {
    ++stats.portionsCompleted;
    if (!intact) ++stats.portionsCorrupt;
    const unsigned number = static_cast<unsigned>(portionIndex + 1);

    std::uint64_t at = nowMs + kDeviceProcessingMs;
    if (behaviour.answer == DeviceBehaviour::Answer::Late) at += kDeviceLateMs;
    if (behaviour.answer == DeviceBehaviour::Answer::Stream) {
        // Stuck sending: one message without end, from now on.
        if (!streamFromMs) streamFromMs = at;
    } else if (behaviour.answer == DeviceBehaviour::Answer::Garbage) {
        ScheduleGarbage(at);
        ScheduleGarbage(at + 1000);
    } else {
        schedule.AnswerStep(at, behaviour, !intact);
    }
    LogMessage("VirtualDevice: portion %u complete (%s)\n", number, intact ? "intact" : "corrupt");

    ++portionIndex;
    portionOffset = 0;
    portionIntact = true;
    SkipEmptyPortions();
}
